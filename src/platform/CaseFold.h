// Names that Windows compares without regard to case (file names, registry
// key and value names) are compared here by their folded forms.
#pragma once

#include <string>
#include <string_view>

namespace oriel::platform {

// The folded form of UTF-8 text: ASCII letters lowered, other letters
// folded by Unicode's simple case folding ("ÄBC" and "äbc" fold alike; "ß"
// and "SS" do not). Bytes that are not valid UTF-8 are kept as they are,
// only their ASCII letters lowered, so that two different such names never
// fold alike.
std::string FoldCase(std::string_view text);

} // namespace oriel::platform
