#include "app/OptionStore.h"

#include "app/StringTable.h"
#include "platform/Text.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cstdlib>
#include <sys/stat.h>
#include <vector>

namespace oriel {

namespace {

constexpr OptionDef kOptions[] = {
    // Application values (loaded by GetAppGlobals).
    {"Netscape", "Cache", OptionType::Text, 0, ""},
    {"Netscape", "UseProfiles", OptionType::Integer, 0, nullptr},
    {"Options", "QuickView", OptionType::Text, 0, ""},
    {"Options", "DefaultFileName", OptionType::Text, 0, "index"},
    {"Options", "UsePathNames", OptionType::Integer, 1, nullptr},
    {"Options", "ExtractNames", OptionType::Integer, 1, nullptr},
    {"Options", "UseServerInPath", OptionType::Integer, 1, nullptr},
    {"Options", "CheckVersionOnStartup", OptionType::Integer, 1, nullptr},
    {"Options", "FastDelete", OptionType::Integer, 0, nullptr},
    {"Options", "RemoveDB", OptionType::Integer, 0, nullptr},
    {"Options", "DeleteOnlyDefault", OptionType::Integer, 0, nullptr},
    {"Options", "IgnoreUnsupported", OptionType::Integer, 0, nullptr},
    {"Options", "ForceNetscapeVersion", OptionType::Text, 0, ""},
    {"Options", "DecodeStartup", OptionType::Integer, 1, nullptr},
    {"Options", "MessageDumpFile", OptionType::Text, 0, "Oriel.log"},
    // Frame and list view values.
    {"Options", "DefaultAction", OptionType::Integer, 0, nullptr},
    {"Options", "InfoView", OptionType::Integer, 1, nullptr},
    {"Options", "Toolbar", OptionType::Integer, 1, nullptr},
    {"Options", "ShowMissing", OptionType::Integer, 1, nullptr},
    {"Options", "ShowRecovered", OptionType::Integer, 0, nullptr},
    {"Options", "View", OptionType::Integer, 1, nullptr},
    {"Options", "SortColumn", OptionType::Integer, 0, nullptr},
    {"Options", "SortOrder", OptionType::Integer, 1, nullptr},
    {"Window", "State", OptionType::Integer, 0, nullptr},
    {"Window", "Left", OptionType::Integer, 0, nullptr},
    {"Window", "Top", OptionType::Integer, 0, nullptr},
    {"Window", "Width", OptionType::Integer, 0, nullptr},
    {"Window", "Height", OptionType::Integer, 0, nullptr},
    {"Window", "SplitWidth", OptionType::Integer, 0, nullptr},
    {"Window", "SplitHeight", OptionType::Integer, 0, nullptr},
    {"ColumnWidths", "Path", OptionType::Integer, 142, nullptr},
    {"ColumnWidths", "URL", OptionType::Integer, 142, nullptr},
    {"ColumnWidths", "Name", OptionType::Integer, 80, nullptr},
    {"ColumnWidths", "Size", OptionType::Integer, 70, nullptr},
    {"ColumnWidths", "Type", OptionType::Integer, 60, nullptr},
    {"ColumnWidths", "DateMod", OptionType::Integer, 0, nullptr},
    {"ColumnWidths", "DateDown", OptionType::Integer, 0, nullptr},
    {"ColumnWidths", "DateExpire", OptionType::Integer, 0, nullptr},
    // The examined Windows system.
    {"System", "Root", OptionType::Text, 0, ""},
    {"System", "User", OptionType::Text, 0, ""},
    {"System", "RegistryFiles", OptionType::Text, 0, ""},
    {"System", "Drives", OptionType::Text, 0, ""},
};
// Histories: "CopyMoveDirs" and "Find", keys "Prev1" to "Prev20", texts, empty by default.

QString Q(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::mutex g_instanceMutex;
std::unique_ptr<OptionStore> g_instance;

} // namespace

std::span<const OptionDef> OptionTable()
{
    return kOptions;
}

const OptionDef* FindOption(std::string_view section, std::string_view key)
{
    for (const auto& def : kOptions) {
        if (platform::EqualsNoCase(def.section, section) && platform::EqualsNoCase(def.key, key))
            return &def;
    }
    return nullptr;
}

OptionStore::OptionStore(const std::string& fileName)
    : fileName_(fileName)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            refusal_ = LoadString(IDS_OPTIONS_NOT_PLAIN) + fileName;
            return;
        }
        if (uint64_t(st.st_size) > kMaxFileSize) {
            refusal_ = LoadString(IDS_OPTIONS_TOO_LARGE) + fileName;
            return;
        }
    }
    // The folder is made on the first write, not here: a run that only
    // reads leaves no trace of itself.
    settings_ = std::make_unique<QSettings>(Q(fileName), QSettings::IniFormat);
}

void OptionStore::MakeFolder()
{
    if (!folderMade_)
        folderMade_ = QDir().mkpath(QFileInfo(Q(fileName_)).absolutePath());
}

OptionStore::~OptionStore()
{
    if (settings_)
        settings_->sync();
}

std::string OptionStore::DefaultFileName()
{
    if (const char* env = std::getenv("ORIEL_CONFIG"); env && *env)
        return env;
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + "/.config";
    return (base + "/Oriel/Oriel.ini").toStdString();
}

OptionStore& OptionStore::Instance()
{
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance)
        g_instance = std::make_unique<OptionStore>(DefaultFileName());
    return *g_instance;
}

void OptionStore::SetInstanceFile(const std::string& fileName)
{
    std::lock_guard lock(g_instanceMutex);
    g_instance = std::make_unique<OptionStore>(fileName);
}

QString OptionStore::StoredKey(std::string_view section, std::string_view key) const
{
    // QSettings groups are case-sensitive on Linux: match the section and
    // the key by folding case ourselves.
    QString wantedSection = Q(section);
    QString wantedKey = Q(key);
    const QStringList groups = settings_->childGroups();
    QString storedSection = wantedSection;
    for (const QString& g : groups) {
        if (g.compare(wantedSection, Qt::CaseInsensitive) == 0) {
            storedSection = g;
            break;
        }
    }
    settings_->beginGroup(storedSection);
    const QStringList keys = settings_->childKeys();
    settings_->endGroup();
    for (const QString& k : keys) {
        if (k.compare(wantedKey, Qt::CaseInsensitive) == 0)
            return storedSection + "/" + k;
    }
    return storedSection + "/" + wantedKey;
}

int OptionStore::ReadInt(std::string_view section, std::string_view key, int defaultValue) const
{
    std::lock_guard lock(mutex_);
    if (!settings_)
        return defaultValue;
    QVariant v = settings_->value(StoredKey(section, key));
    if (!v.isValid())
        return defaultValue;
    bool ok = false;
    int value = v.toString().trimmed().toInt(&ok, 0);
    return ok ? value : defaultValue;
}

std::string OptionStore::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const
{
    std::lock_guard lock(mutex_);
    if (!settings_)
        return std::string(defaultValue);
    QVariant v = settings_->value(StoredKey(section, key));
    if (!v.isValid())
        return std::string(defaultValue);
    // An unquoted text with commas reads back as a list; rejoin it.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(',').toStdString();
    return v.toString().toStdString();
}

int OptionStore::ReadInt(std::string_view section, std::string_view key) const
{
    const OptionDef* def = FindOption(section, key);
    return ReadInt(section, key, def ? def->intDefault : 0);
}

std::string OptionStore::ReadString(std::string_view section, std::string_view key) const
{
    const OptionDef* def = FindOption(section, key);
    return ReadString(section, key, def && def->textDefault ? def->textDefault : "");
}

void OptionStore::WriteInt(std::string_view section, std::string_view key, int value)
{
    std::lock_guard lock(mutex_);
    if (!settings_)
        return;
    MakeFolder();
    settings_->setValue(StoredKey(section, key), value);
    settings_->sync();
}

void OptionStore::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    std::lock_guard lock(mutex_);
    if (!settings_)
        return;
    MakeFolder();
    settings_->setValue(StoredKey(section, key), Q(value));
    settings_->sync();
}

void OptionStore::Sync()
{
    std::lock_guard lock(mutex_);
    if (settings_)
        settings_->sync();
}

} // namespace oriel
