#include "runtime/Component.h"

#include <algorithm>

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner)
{
    if (FOwner)
        FOwner->FComponents.push_back(this);
}

TComponent::~TComponent()
{
    FDestroying = true;
    // Owned components go last-created first; each leaves the list as it is deleted.
    while (!FComponents.empty()) {
        TComponent* c = FComponents.back();
        c->FOwner = nullptr;
        FComponents.pop_back();
        delete c;
    }
    if (FOwner)
        FOwner->Remove(this);
}

void TComponent::Remove(TComponent* c)
{
    auto it = std::find(FComponents.begin(), FComponents.end(), c);
    if (it != FComponents.end())
        FComponents.erase(it);
}
