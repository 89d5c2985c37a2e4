// A found instance's life and its TXT strings.
#include "browse/service_instance.h"

#include <stdlib.h>
#include <string.h>

#include <new>

const wchar_t* NextTxtString(const ResolvedService* service, const wchar_t* text, uint32_t* index)
{
    if (text == nullptr) {
        *index = 0;
        return service->txtCount > 0 ? service->txtText : nullptr;
    }
    if (++*index >= service->txtCount) {
        return nullptr;
    }
    return text + wcslen(text) + 1;
}

ServiceInstance::~ServiceInstance()
{
    free(service.txtText);
}

InstancePtr MakeServiceInstance()
{
    ServiceInstance* instance = new (std::nothrow) ServiceInstance();
    if (instance != nullptr) {
        // Value-initialised already; the atomics are set apart for clarity.
        instance->srvAnswered = 0;
        instance->txtAnswered = 0;
    }
    return InstancePtr(instance);
}
