// Every test binary starts with a private option store whose trace log is
// off, so that no test reads the user's settings or writes their log.
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    oriel::test::TestEnvironment environment;
    return RUN_ALL_TESTS();
}
