// The file-type icon cache: one icon index per MIME type, taken from the
// icon of a file with that type's usual extension. Icons come from the
// freedesktop icon theme where one is installed, and from a small bundled
// set otherwise, so that a bare machine shows icons too.
#pragma once

#include "model/CacheItem.h"

#include <QIcon>
#include <QString>

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace oriel {

// Loads the bundled images (icons, tree and toolbar pictures) of the window.
void InitUiResources();

// Picks an installed freedesktop theme when the platform named none, so
// that theme icons are found under minimal desktops and offscreen too.
void ChooseIconTheme();

class CFileTypeIcons : public TypeIconSource {
public:
    // With useTheme false only the bundled set is used (for tests that must
    // not depend on what the machine has installed).
    explicit CFileTypeIcons(bool useTheme = true);

    // The icon index for a type: from the map when the type is known,
    // otherwise the icon of a file named "orieltmp" + extension (the type's
    // registered extension when none is given), stored under the type.
    int32_t GetIcon(const std::string& extension, const char* contentType) override;

    int32_t IconCount() const { return int32_t(icons_.size()); }
    // Index 0 when out of range.
    const QIcon& Icon(int32_t index) const;
    // The icon drawn dimmed, for rows whose file has gone.
    const QIcon& GhostIcon(int32_t index) const;
    // "theme:text-html" or "bundled:html": where an index's icon came from.
    const QString& IconKey(int32_t index) const;
    // The map's entry for a type, or -1.
    int32_t StoredIndex(const std::string& contentType) const;

private:
    int32_t IconForFileName(const QString& fileName);
    int32_t AddIcon(const QString& key, QIcon icon);

    bool useTheme_;
    std::map<std::string, int32_t> typeMap_;
    std::vector<QIcon> icons_;
    mutable std::vector<QIcon> ghosts_;
    std::vector<QString> keys_;
    std::unordered_map<std::string, int32_t> byKey_;
};

} // namespace oriel
