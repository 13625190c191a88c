// The .reg parser on arbitrary bytes, applied the way the system registry
// applies an export: onto a registry that earlier files already filled.
#include "FuzzSupport.h"

#include "platform/MemoryRegistry.h"
#include "platform/RegFile.h"
#include "support/RegFileWriter.h"

#include <string_view>

using oriel::platform::MemoryRegistry;
using oriel::platform::RegFile;
using oriel::platform::RootKey;
using oriel::test::RegFileWriter;

namespace {

RegFileWriter Sample(RegFileWriter::Format format)
{
    const std::string cu = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
    RegFileWriter w(format);
    w.comment("seed")
        .setString(cu + "\\Shell Folders", "AppData", "C:\\Documents and Settings\\Jane\\Application Data")
        .setString(cu + "\\Shell Folders", "", "\"quoted\" and \\ back")
        .setExpandString(cu + "\\User Shell Folders", "Cache",
                         "%USERPROFILE%\\Local Settings\\Temporary Internet Files")
        .setMultiString("HKLM\\Software\\Multi", "List", {"one", "two", "Grüße"})
        .setDword("HKLM\\Software\\Multi", "Count", 3)
        .setHex("HKLM\\Software\\Multi", "Blob", 3, std::string("\x00\x01\xfe\xff", 4))
        .setHex("HKLM\\Software\\Multi", "Qword", 0xb, std::string(8, '\x07'))
        .setString("HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\image/gif", "Extension", ".gif")
        .deleteValue("HKLM\\Software\\Multi", "Count")
        .deleteKey("HKEY_CURRENT_USER\\Software\\Old")
        .setString("HKEY_USERS\\S-1-5-18\\Software", "v", "ignored");
    return w;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    WriteSeed(dir, "version5.reg", Sample(RegFileWriter::Format::Version5).bytes());
    WriteSeed(dir, "regedit4.reg", Sample(RegFileWriter::Format::Regedit4).bytes());
    WriteSeed(dir, "lf.reg", "REGEDIT4\n[HKCU\\X]]\n\"a\"=hex(7):41,00,\\\n 42,00,00,00\n@=\"d\"\n");
    WriteSeed(dir, "utf8.reg", "\xEF\xBB\xBFREGEDIT4\r\n[HKCR\\.gif]\r\n\"Content Type\"=\"image/gif\"\r\n");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    MemoryRegistry registry;
    registry.SetString(RootKey::CurrentUser, "Software\\Before", "v", "earlier file");
    RegFile::ApplyBytes(bytes, "fuzz.reg", registry);
    // Walk what was applied, as the loaders would.
    std::string out;
    for (RootKey root : {RootKey::LocalMachine, RootKey::CurrentUser, RootKey::ClassesRoot}) {
        std::vector<std::string> names;
        registry.EnumSubkeys(root, "", names);
        for (size_t i = 0; i < names.size() && i < 16; ++i) {
            std::vector<std::string> sub;
            registry.EnumSubkeys(root, names[i], sub);
            registry.QueryString(root, names[i], "", out);
            registry.KeyDeleted(root, names[i]);
        }
    }
    return 0;
}
