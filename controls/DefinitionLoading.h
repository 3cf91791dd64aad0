// Window definitions set a component's published properties one after the
// other, then tell it that loading has ended. Components created while a
// DefinitionLoading scope is open (that is, inside a form's setupUi) count as
// being loaded until the scope ends, when each one's Loaded() runs in
// creation order.
#pragma once

#include <vector>

class LoadableComponent {
public:
    virtual ~LoadableComponent();
    LoadableComponent(const LoadableComponent&) = delete;
    LoadableComponent& operator=(const LoadableComponent&) = delete;

    bool isLoading() const { return m_loading; }

    // The after-loading operation; overrides call the base first.
    virtual void Loaded() { m_loading = false; }

protected:
    LoadableComponent();

private:
    bool m_loading = false;
    friend class DefinitionLoading;
};

class DefinitionLoading {
public:
    DefinitionLoading();
    ~DefinitionLoading();
    DefinitionLoading(const DefinitionLoading&) = delete;
    DefinitionLoading& operator=(const DefinitionLoading&) = delete;

    // Ends loading now (the destructor does it otherwise). An error raised by
    // a component's Loaded() propagates after the remaining ones have run.
    void finish();

private:
    friend class LoadableComponent;
    static DefinitionLoading*& current();
    void forget(LoadableComponent* component);

    DefinitionLoading* m_outer;
    std::vector<LoadableComponent*> m_components;
    bool m_finished = false;
};
