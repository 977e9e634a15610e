#include "kqInstanceFactory.h"
#include <new>
#include "kqInstanceFactoryImpl.h"

namespace {

// Owns the process-wide registry from its first use to process exit.
class CProcessInstanceFactory
{
public:
    CProcessInstanceFactory() : m_pFactory(new (std::nothrow) CInstanceFactoryImpl())
    {
        if (m_pFactory)
            m_pFactory->RegisterLibraryClasses();
    }
    ~CProcessInstanceFactory()
    {
        if (m_pFactory)
            m_pFactory->Release();
    }
    CProcessInstanceFactory(const CProcessInstanceFactory&) = delete;
    CProcessInstanceFactory& operator=(const CProcessInstanceFactory&) = delete;

    IInstanceFactory* Get() const { return m_pFactory; }

private:
    CInstanceFactoryImpl* const m_pFactory;
};

}  // namespace

IInstanceFactory* GetInstanceFactory()
{
    // A function-local static is built once under the runtime's own lock, so concurrent first
    // calls get the same registry.
    static CProcessInstanceFactory s_factory;
    return s_factory.Get();
}
