#include "DefinitionLoading.h"

#include <algorithm>
#include <exception>

LoadableComponent::LoadableComponent()
{
    if (DefinitionLoading* loading = DefinitionLoading::current()) {
        m_loading = true;
        loading->m_components.push_back(this);
    }
}

LoadableComponent::~LoadableComponent()
{
    for (DefinitionLoading* loading = DefinitionLoading::current(); loading; loading = loading->m_outer)
        loading->forget(this);
}

DefinitionLoading*& DefinitionLoading::current()
{
    thread_local DefinitionLoading* scope = nullptr;
    return scope;
}

DefinitionLoading::DefinitionLoading()
    : m_outer(current())
{
    current() = this;
}

DefinitionLoading::~DefinitionLoading()
{
    try {
        finish();
    } catch (...) {
        // Only finish() called explicitly reports errors; a destructor cannot.
    }
}

void DefinitionLoading::forget(LoadableComponent* component)
{
    m_components.erase(std::remove(m_components.begin(), m_components.end(), component), m_components.end());
}

void DefinitionLoading::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    current() = m_outer;
    std::exception_ptr firstError;
    auto components = std::move(m_components);
    for (LoadableComponent* component : components) {
        try {
            component->Loaded();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
    }
    if (firstError)
        std::rethrow_exception(firstError);
}
