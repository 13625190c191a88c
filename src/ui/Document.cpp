#include "ui/Document.h"

#include <algorithm>

namespace oriel {

const char* HintName(int32_t hint)
{
    switch (hint) {
    case CACHE_NOCHANGE:
        return "CACHE_NOCHANGE";
    case CACHE_RELOAD:
        return "CACHE_RELOAD";
    case CACHE_REFRESH:
        return "CACHE_REFRESH";
    case CACHE_EMPTY:
        return "CACHE_EMPTY";
    }
    return "Unknown";
}

BrowserProfile& ProfileList::Add(std::unique_ptr<BrowserProfile> profile)
{
    profiles_.push_back(std::move(profile));
    return *profiles_.back();
}

BrowserProfile* ProfileList::GetProfile(int32_t slot) const
{
    if (slot < 0 || slot >= GetCount())
        return nullptr;
    return profiles_[size_t(slot)].get();
}

CCacheDocument::CCacheDocument(std::unique_ptr<ProfileCollection> profiles)
    : profiles_(std::move(profiles))
{
}

void CCacheDocument::AddView(CView* view)
{
    if (view && std::find(views_.begin(), views_.end(), view) == views_.end())
        views_.push_back(view);
}

void CCacheDocument::RemoveView(CView* view)
{
    views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
}

void CCacheDocument::UpdateAllViews(CView* sender, int32_t hint, CUpdateHint* hintObject)
{
    // A view may add or remove views while it handles the update; walk a copy.
    const std::vector<CView*> views = views_;
    for (CView* view : views) {
        if (view != sender && std::find(views_.begin(), views_.end(), view) != views_.end())
            view->OnUpdate(sender, hint, hintObject);
    }
}

void CCacheDocument::SetTitle(const std::string& title)
{
    title_ = title;
    if (titleListener_)
        titleListener_(title_);
}

} // namespace oriel
