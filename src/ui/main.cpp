// oriel: the window.
#include "ui/WindowApp.h"

int main(int argc, char** argv)
{
    return oriel::RunWindowApp(argc, argv);
}
