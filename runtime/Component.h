#pragma once
// The object model the components are built on: an owner frees what it owns.
//
// A TComponent created with an owner is deleted by that owner's destructor unless it was
// deleted earlier (it then leaves its owner's list). Not thread-safe: owners and owned
// components are created and destroyed on one thread.

#include <functional>
#include <string>
#include <vector>

class TObject {
public:
    virtual ~TObject() = default;
};

class TPersistent : public TObject {};

// A method pointer: a function and the object it is bound to; tested before each call.
using TNotifyEvent = std::function<void(TObject* Sender)>;
// A recovery hook given one chance: the caller sets Handled to false, the handler to true.
using THandlerEvent = std::function<void(bool& Handled)>;

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    const std::vector<TComponent*>& Components() const { return FComponents; }

    // Called once the component's properties are set (after loading from a form).
    virtual void Loaded() {}

    // Marks the component as being destroyed; destructors call it first so that
    // handlers and events can tell.
    void Destroying() { FDestroying = true; }
    bool IsDestroying() const { return FDestroying; }

    std::string Name;
    int Tag = 0;

private:
    void Remove(TComponent* c);

    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    bool FDestroying = false;
};
