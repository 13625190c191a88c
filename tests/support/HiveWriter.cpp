#include "support/HiveWriter.h"

#include "support/TestEnvironment.h"

#include <QChar>
#include <QString>

#include <algorithm>
#include <map>
#include <stdexcept>

namespace oriel::test {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr size_t kPageSize = 0x1000;
constexpr size_t kBinHeaderSize = 0x20;
// Data longer than this needs "db" big-data cells, which this writer does not make.
constexpr size_t kMaxCellData = 16344;
// 1 June 2005 00:00 UTC as a FILETIME.
constexpr uint64_t kTimestamp = (1117584000ULL + 11644473600ULL) * 10000000ULL;

std::u16string ToUtf16(const std::string& text)
{
    return QString::fromStdString(text).toStdU16String();
}

char16_t Upcase(char16_t c)
{
    return QChar(c).toUpper().unicode();
}

std::u16string Upcased(const std::u16string& s)
{
    std::u16string out(s);
    for (char16_t& c : out)
        c = Upcase(c);
    return out;
}

// Names of characters below 256 are stored one byte each ("compressed"),
// others as UTF-16LE.
bool Compressible(const std::u16string& name)
{
    return std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x100; });
}

std::string StoredName(const std::u16string& name)
{
    std::string out;
    if (Compressible(name)) {
        for (char16_t c : name)
            out += char(c);
    } else {
        for (char16_t c : name) {
            out += char(c & 0xFF);
            out += char(c >> 8);
        }
    }
    return out;
}

void Put16(std::string& buf, size_t off, uint16_t v)
{
    buf[off] = char(v & 0xFF);
    buf[off + 1] = char(v >> 8);
}

void Put32(std::string& buf, size_t off, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        buf[off + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

void Put64(std::string& buf, size_t off, uint64_t v)
{
    Put32(buf, off, uint32_t(v));
    Put32(buf, off + 4, uint32_t(v >> 32));
}

void PutBytes(std::string& buf, size_t off, const std::string& bytes)
{
    buf.replace(off, bytes.size(), bytes);
}

// A self-relative security descriptor: owner Administrators, group SYSTEM,
// and a DACL that gives Everyone full access to the key and its subkeys.
std::string SecurityDescriptor()
{
    auto sid = [](std::vector<uint32_t> sub, uint8_t authority) {
        std::string s;
        s += char(1);
        s += char(sub.size());
        s += std::string(5, '\0');
        s += char(authority);
        for (uint32_t v : sub) {
            std::string b(4, '\0');
            Put32(b, 0, v);
            s += b;
        }
        return s;
    };
    const std::string owner = sid({32, 544}, 5);
    const std::string group = sid({18}, 5);
    const std::string everyone = sid({0}, 1);
    std::string ace(8, '\0');
    ace[0] = 0;    // ACCESS_ALLOWED_ACE_TYPE
    ace[1] = 0x03; // object and container inherit
    Put16(ace, 2, uint16_t(8 + everyone.size()));
    Put32(ace, 4, 0x000F003F); // KEY_ALL_ACCESS
    ace += everyone;
    std::string acl(8, '\0');
    acl[0] = 2;
    Put16(acl, 2, uint16_t(8 + ace.size()));
    Put16(acl, 4, 1);
    acl += ace;

    std::string sd(20, '\0');
    sd[0] = 1;
    Put16(sd, 2, 0x8004); // self-relative, DACL present
    uint32_t off = 20;
    Put32(sd, 4, off);
    sd += owner;
    off += uint32_t(owner.size());
    Put32(sd, 8, off);
    sd += group;
    off += uint32_t(group.size());
    Put32(sd, 12, 0);
    Put32(sd, 16, off);
    sd += acl;
    return sd;
}

// The hive bins: cells allocated one after another, each new bin as large
// as the cell that opens it needs.
class Bins {
public:
    // Returns the cell's offset (relative to the first bin) with `payload`
    // zeroed bytes after its size field.
    uint32_t alloc(size_t payload)
    {
        size_t size = (payload + 4 + 7) & ~size_t(7);
        if (pageEnd_ - cur_ < size) {
            closePage();
            size_t pageSize = (kBinHeaderSize + size + kPageSize - 1) / kPageSize * kPageSize;
            data_.resize(pageEnd_ + pageSize, '\0');
            size_t start = pageEnd_;
            PutBytes(data_, start, "hbin");
            Put32(data_, start + 4, uint32_t(start));
            Put32(data_, start + 8, uint32_t(pageSize));
            Put64(data_, start + 20, kTimestamp);
            cur_ = start + kBinHeaderSize;
            pageEnd_ = start + pageSize;
        }
        uint32_t off = uint32_t(cur_);
        Put32(data_, cur_, uint32_t(-int32_t(size)));
        cur_ += size;
        return off;
    }

    std::string& data() { return data_; }

    // Ends the last bin with a free cell over its unused space.
    void finish()
    {
        closePage();
        cur_ = pageEnd_;
    }

private:
    void closePage()
    {
        if (pageEnd_ > cur_)
            Put32(data_, cur_, uint32_t(pageEnd_ - cur_));
    }

    std::string data_;
    size_t cur_ = 0;
    size_t pageEnd_ = 0;
};

} // namespace

struct HiveWriter::Key {
    std::u16string name;
    std::vector<std::unique_ptr<Key>> subkeys; // in creation order; sorted when written
    struct Value {
        std::u16string name;
        uint32_t type;
        std::string data;
    };
    std::vector<Value> values; // in creation order, as Windows keeps them
    std::map<std::u16string, Key*> byName; // subkeys by upper-cased name

    Key* child(const std::u16string& childName)
    {
        const std::u16string up = Upcased(childName);
        auto it = byName.find(up);
        if (it != byName.end())
            return it->second;
        subkeys.push_back(std::make_unique<Key>());
        subkeys.back()->name = childName;
        byName.emplace(up, subkeys.back().get());
        return subkeys.back().get();
    }
};

HiveWriter::HiveWriter(int minorVersion)
    : minor_(minorVersion)
    , fileName_("\\??\\C:\\Windows\\System32\\config\\SOFTWARE")
    , root_(std::make_unique<Key>())
{
    root_->name = u"ROOT";
}

HiveWriter::~HiveWriter() = default;

HiveWriter::Key& HiveWriter::key(const std::string& keyPath)
{
    Key* k = root_.get();
    size_t pos = 0;
    while (pos <= keyPath.size()) {
        size_t next = std::min(keyPath.find('\\', pos), keyPath.size());
        if (next > pos)
            k = k->child(ToUtf16(keyPath.substr(pos, next - pos)));
        pos = next + 1;
    }
    return *k;
}

HiveWriter& HiveWriter::addKey(const std::string& keyPath)
{
    key(keyPath);
    return *this;
}

HiveWriter& HiveWriter::setValue(const std::string& keyPath, const std::string& name, uint32_t type,
                                 const std::string& data)
{
    if (data.size() > kMaxCellData)
        throw std::invalid_argument("HiveWriter: value data too large");
    Key& k = key(keyPath);
    const std::u16string u = ToUtf16(name);
    const std::u16string up = Upcased(u);
    for (auto& v : k.values) {
        if (Upcased(v.name) == up) {
            v.type = type;
            v.data = data;
            return *this;
        }
    }
    k.values.push_back({u, type, data});
    return *this;
}

std::string HiveWriter::Utf16Z(const std::string& text)
{
    std::string out;
    for (char16_t c : ToUtf16(text)) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    out += std::string(2, '\0');
    return out;
}

HiveWriter& HiveWriter::setString(const std::string& keyPath, const std::string& name, const std::string& text)
{
    return setValue(keyPath, name, 1, Utf16Z(text));
}

HiveWriter& HiveWriter::setExpandString(const std::string& keyPath, const std::string& name, const std::string& text)
{
    return setValue(keyPath, name, 2, Utf16Z(text));
}

HiveWriter& HiveWriter::setMultiString(const std::string& keyPath, const std::string& name,
                                       const std::vector<std::string>& texts)
{
    std::string data;
    for (const auto& t : texts)
        data += Utf16Z(t);
    data += std::string(2, '\0');
    return setValue(keyPath, name, 7, data);
}

HiveWriter& HiveWriter::setDword(const std::string& keyPath, const std::string& name, uint32_t value)
{
    std::string data(4, '\0');
    Put32(data, 0, value);
    return setValue(keyPath, name, 4, data);
}

HiveWriter& HiveWriter::setFileName(const std::string& name)
{
    fileName_ = name;
    return *this;
}

uint32_t HiveWriter::NameHash(const std::string& name)
{
    uint32_t hash = 0;
    for (char16_t c : ToUtf16(name))
        hash = hash * 37 + Upcase(c);
    return hash;
}

std::string HiveWriter::bytes() const
{
    Bins bins;
    const uint32_t rootOff = bins.alloc(76 + StoredName(root_->name).size());

    const std::string descriptor = SecurityDescriptor();
    const uint32_t skOff = bins.alloc(20 + descriptor.size());
    uint32_t keyCount = 0;

    // Writes the key's fields, values and subkeys; the key's own nk cell is at `nkOff`.
    auto writeKey = [&](auto& self, const Key& k, uint32_t nkOff, uint32_t parentOff, bool isRoot) -> void {
        ++keyCount;
        const std::string stored = StoredName(k.name);
        std::string* d = &bins.data();
        auto at = [&](uint32_t off) { return size_t(off); };
        PutBytes(*d, at(nkOff) + 4, "nk");
        Put16(*d, at(nkOff) + 6, uint16_t((isRoot ? 0x2C : 0) | (Compressible(k.name) ? 0x20 : 0)));
        Put64(*d, at(nkOff) + 8, kTimestamp);
        Put32(*d, at(nkOff) + 20, parentOff);
        Put32(*d, at(nkOff) + 36, kNone);
        Put32(*d, at(nkOff) + 48, skOff);
        Put32(*d, at(nkOff) + 52, kNone);
        Put16(*d, at(nkOff) + 76, uint16_t(stored.size()));
        PutBytes(*d, at(nkOff) + 80, stored);

        // Values, in creation order.
        uint32_t maxValueName = 0, maxValueData = 0;
        std::vector<uint32_t> valueOffs;
        for (const auto& v : k.values) {
            const std::string vname = StoredName(v.name);
            uint32_t vkOff = bins.alloc(20 + vname.size());
            uint32_t dataField = 0;
            uint32_t sizeField = uint32_t(v.data.size());
            if (v.data.size() <= 4) {
                // Small data lives in the data-offset field itself.
                std::string inl = v.data + std::string(4 - v.data.size(), '\0');
                dataField = uint32_t(uint8_t(inl[0])) | uint32_t(uint8_t(inl[1])) << 8 |
                            uint32_t(uint8_t(inl[2])) << 16 | uint32_t(uint8_t(inl[3])) << 24;
                sizeField |= 0x80000000;
            } else {
                dataField = bins.alloc(v.data.size());
                PutBytes(bins.data(), dataField + 4, v.data);
            }
            d = &bins.data();
            PutBytes(*d, vkOff + 4, "vk");
            Put16(*d, vkOff + 6, uint16_t(vname.size()));
            Put32(*d, vkOff + 8, sizeField);
            Put32(*d, vkOff + 12, dataField);
            Put32(*d, vkOff + 16, v.type);
            Put16(*d, vkOff + 20, Compressible(v.name) ? 1 : 0);
            PutBytes(*d, vkOff + 24, vname);
            valueOffs.push_back(vkOff);
            maxValueName = std::max(maxValueName, uint32_t(v.name.size() * 2));
            maxValueData = std::max(maxValueData, uint32_t(v.data.size()));
        }
        uint32_t valueListOff = kNone;
        if (!valueOffs.empty()) {
            valueListOff = bins.alloc(4 * valueOffs.size());
            for (size_t i = 0; i < valueOffs.size(); ++i)
                Put32(bins.data(), valueListOff + 4 + 4 * i, valueOffs[i]);
        }

        // Subkeys, sorted as Windows sorts them: by upper-cased name.
        std::vector<const Key*> sorted;
        for (const auto& s : k.subkeys)
            sorted.push_back(s.get());
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Key* a, const Key* b) { return Upcased(a->name) < Upcased(b->name); });
        std::vector<uint32_t> childOffs;
        uint32_t maxSubkeyName = 0;
        for (const Key* s : sorted) {
            uint32_t childOff = bins.alloc(76 + StoredName(s->name).size());
            self(self, *s, childOff, nkOff, false);
            childOffs.push_back(childOff);
            maxSubkeyName = std::max(maxSubkeyName, uint32_t(s->name.size() * 2));
        }
        uint32_t listOff = kNone;
        if (!childOffs.empty()) {
            listOff = bins.alloc(4 + 8 * childOffs.size());
            std::string& b = bins.data();
            PutBytes(b, listOff + 4, minor_ >= 5 ? "lh" : "lf");
            Put16(b, listOff + 6, uint16_t(childOffs.size()));
            for (size_t i = 0; i < childOffs.size(); ++i) {
                Put32(b, listOff + 8 + 8 * i, childOffs[i]);
                if (minor_ >= 5) {
                    Put32(b, listOff + 12 + 8 * i, NameHash(QString::fromStdU16String(sorted[i]->name).toStdString()));
                } else {
                    // "lf": the first four characters of the name as a hint.
                    for (size_t c = 0; c < 4 && c < sorted[i]->name.size(); ++c)
                        b[listOff + 12 + 8 * i + c] = char(sorted[i]->name[c] & 0xFF);
                }
            }
        }

        d = &bins.data();
        Put32(*d, at(nkOff) + 24, uint32_t(childOffs.size()));
        Put32(*d, at(nkOff) + 32, listOff);
        Put32(*d, at(nkOff) + 40, uint32_t(valueOffs.size()));
        Put32(*d, at(nkOff) + 44, valueListOff);
        Put32(*d, at(nkOff) + 56, maxSubkeyName);
        Put32(*d, at(nkOff) + 64, maxValueName);
        Put32(*d, at(nkOff) + 68, maxValueData);
    };
    writeKey(writeKey, *root_, rootOff, 0, true);

    std::string& b = bins.data();
    PutBytes(b, skOff + 4, "sk");
    Put32(b, skOff + 8, skOff);  // the list of security cells holds only this one
    Put32(b, skOff + 12, skOff);
    Put32(b, skOff + 16, keyCount);
    Put32(b, skOff + 20, uint32_t(descriptor.size()));
    PutBytes(b, skOff + 24, descriptor);
    bins.finish();

    std::string base(kPageSize, '\0');
    PutBytes(base, 0, "regf");
    Put32(base, 4, 1);
    Put32(base, 8, 1);
    Put32(base, 20, 1);
    Put32(base, 24, uint32_t(minor_));
    Put32(base, 28, 0); // primary file
    Put32(base, 32, 1); // direct memory load
    Put32(base, 36, rootOff);
    Put32(base, 40, uint32_t(bins.data().size()));
    Put32(base, 44, 1);
    std::u16string file = ToUtf16(fileName_);
    for (size_t i = 0; i < file.size() && i < 31; ++i)
        Put16(base, 48 + 2 * i, file[i]);
    // Windows never stores a checksum of 0 or 0xFFFFFFFF (it would store 1
    // or 0xFFFFFFFE) but libhivex compares the plain XOR: move the time
    // stamp until neither value comes out.
    for (uint64_t stamp = kTimestamp;; ++stamp) {
        Put64(base, 12, stamp);
        uint32_t sum = 0;
        for (size_t off = 0; off < 508; off += 4) {
            sum ^= uint32_t(uint8_t(base[off])) | uint32_t(uint8_t(base[off + 1])) << 8 |
                   uint32_t(uint8_t(base[off + 2])) << 16 | uint32_t(uint8_t(base[off + 3])) << 24;
        }
        if (sum != 0 && sum != 0xFFFFFFFF) {
            Put32(base, 508, sum);
            break;
        }
    }
    return base + bins.data();
}

void HiveWriter::writeTo(const std::string& path) const
{
    WriteFile(path, bytes());
}

} // namespace oriel::test
