// The window's document/view layer: the profile collection the views show,
// the hint object that travels with every update, and the update-all-views
// call. Views never call each other; they react to OnUpdate and ask the
// frame for what another view holds.
#pragma once

#include "model/BrowserProfile.h"
#include "model/BrowserSettings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace oriel {

// What an update is about.
struct CUpdateHint {
    enum Kind : int32_t {
        kServer = 0,   // server is set
        kProfile = 1,  // profile is set
        kDocument = 2, // the whole document; no field set
        kItem = 3,     // item is set (null allowed)
    };

    CCacheItem* item = nullptr;
    CNamedCacheItemArray* server = nullptr;
    BrowserProfile* profile = nullptr;
    int32_t kind = kDocument;

    static CUpdateHint ForItem(CCacheItem* item) { return {item, nullptr, nullptr, kItem}; }
    static CUpdateHint ForServer(CNamedCacheItemArray* server) { return {nullptr, server, nullptr, kServer}; }
    static CUpdateHint ForProfile(BrowserProfile* profile) { return {nullptr, nullptr, profile, kProfile}; }
    static CUpdateHint ForDocument() { return {}; }
};

// The name a view logs for a hint number.
const char* HintName(int32_t hint);

class CView {
public:
    virtual ~CView() = default;
    virtual void OnInitialUpdate() {}
    // `hintObject` may be null (a refresh sent without one).
    virtual void OnUpdate(CView* sender, int32_t hint, CUpdateHint* hintObject) = 0;
};

// Where the document's profiles come from: the application's
// CBrowserSettings, or a fixed list (tests, benchmarks, screenshots).
class ProfileCollection {
public:
    virtual ~ProfileCollection() = default;
    virtual int32_t GetCount() const = 0;
    virtual BrowserProfile* GetProfile(int32_t slot) const = 0;
    virtual BrowserProfile* GetDefaultProfile() const = 0;
    // Builds the collection again from the options (display mode, folder,
    // examined system); a fixed list stays as it is.
    virtual void Reload() {}
};

// Over a CBrowserSettings that the application owns.
class BrowserSettingsCollection : public ProfileCollection {
public:
    explicit BrowserSettingsCollection(CBrowserSettings& settings)
        : settings_(settings)
    {
    }
    int32_t GetCount() const override { return settings_.GetCount(); }
    BrowserProfile* GetProfile(int32_t slot) const override { return settings_.GetProfile(slot); }
    BrowserProfile* GetDefaultProfile() const override { return settings_.GetDefaultProfile(); }
    void Reload() override { settings_.ReloadProfiles(); }

private:
    CBrowserSettings& settings_;
};

// Profiles handed over whole; the first is the default.
class ProfileList : public ProfileCollection {
public:
    BrowserProfile& Add(std::unique_ptr<BrowserProfile> profile);
    int32_t GetCount() const override { return int32_t(profiles_.size()); }
    BrowserProfile* GetProfile(int32_t slot) const override;
    BrowserProfile* GetDefaultProfile() const override { return profiles_.empty() ? nullptr : profiles_[0].get(); }

private:
    std::vector<std::unique_ptr<BrowserProfile>> profiles_;
};

class CCacheDocument {
public:
    explicit CCacheDocument(std::unique_ptr<ProfileCollection> profiles);
    CCacheDocument(const CCacheDocument&) = delete;
    CCacheDocument& operator=(const CCacheDocument&) = delete;

    int32_t GetCount() const { return profiles_->GetCount(); }
    BrowserProfile* GetProfile(int32_t slot) const { return profiles_->GetProfile(slot); }
    BrowserProfile* GetDefaultProfile() const { return profiles_->GetDefaultProfile(); }
    // Destroys every profile and builds the collection again; the views are
    // then told with hint 4 and a whole-document hint object.
    void ReloadProfiles() { profiles_->Reload(); }

    void AddView(CView* view);
    void RemoveView(CView* view);
    // Every view but the sender gets OnUpdate, in the order they were added.
    void UpdateAllViews(CView* sender, int32_t hint, CUpdateHint* hintObject);
    void UpdateAllViews(CView* sender, int32_t hint, CUpdateHint hintObject)
    {
        UpdateAllViews(sender, hint, &hintObject);
    }

    const std::string& GetTitle() const { return title_; }
    void SetTitle(const std::string& title);
    // Called with the new title whenever it is set.
    void SetTitleListener(std::function<void(const std::string&)> listener) { titleListener_ = std::move(listener); }

private:
    std::unique_ptr<ProfileCollection> profiles_;
    std::vector<CView*> views_;
    std::string title_;
    std::function<void(const std::string&)> titleListener_;
};

} // namespace oriel
