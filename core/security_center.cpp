// Reads the Security Center's product list. The SDK header iwscapi.h is not
// in MinGW, so the two interfaces and their identifiers are written here
// from Microsoft's documentation (iwscapi.h: IWSCProductList, IWscProduct;
// both derive from IDispatch there). Windows 8 and later only; the class is
// missing elsewhere and under Wine, and creating it then fails.
#include "core/security_center.h"

#include "core/text_copy.h"

#include <objbase.h>
#include <oleauto.h>

namespace {

const CLSID kClsidWscProductList = {
    0x17072F7B, 0x9ABE, 0x4A74, {0xA2, 0x61, 0x1E, 0xB7, 0x6B, 0x55, 0x10, 0x7A}};
const IID kIidIWscProductList = {
    0x722A338C, 0x6E8E, 0x4E72, {0xAC, 0x27, 0x14, 0x17, 0xFB, 0x0C, 0x81, 0xC2}};

constexpr ULONG kWscSecurityProviderFirewall = 0x1;  // WSC_SECURITY_PROVIDER_FIREWALL
constexpr LONG kWscProductStateOn = 0;                // WSC_SECURITY_PRODUCT_STATE_ON

struct IWscProductAbi : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_ProductName(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProductState(LONG* state) = 0;
};

struct IWscProductListAbi : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Initialize(ULONG provider) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(ULONG index, IWscProductAbi** product) = 0;
};

// Appends one product's name when it is on; true when it was.
bool AppendProductWhenOn(IWscProductAbi* product, wchar_t* names, size_t capacity)
{
    LONG state = -1;
    if (FAILED(product->get_ProductState(&state)) || state != kWscProductStateOn) {
        return false;
    }
    BSTR name = nullptr;
    if (FAILED(product->get_ProductName(&name)) || name == nullptr) {
        return true;  // on, though nameless
    }
    size_t used = capacity > 0 ? wcslen(names) : 0;
    if (used > 0 && used + 2 < capacity) {
        CopyText(names + used, capacity - used, L"; ");
        used += 2;
    }
    if (used + 1 < capacity) {
        CopyText(names + used, capacity - used, name);
    }
    SysFreeString(name);
    return true;
}

}  // namespace

HRESULT ListSecurityCenterFirewalls(wchar_t* names, size_t capacity, int* count)
{
    if (capacity > 0) {
        names[0] = L'\0';
    }
    *count = 0;
    IWscProductListAbi* list = nullptr;
    HRESULT result = CoCreateInstance(kClsidWscProductList, nullptr, CLSCTX_INPROC_SERVER,
                                      kIidIWscProductList, reinterpret_cast<void**>(&list));
    if (FAILED(result)) {
        return result;
    }
    LONG products = 0;
    result = list->Initialize(kWscSecurityProviderFirewall);
    if (SUCCEEDED(result)) {
        result = list->get_Count(&products);
    }
    for (LONG i = 0; SUCCEEDED(result) && i < products; ++i) {
        IWscProductAbi* product = nullptr;
        if (FAILED(list->get_Item(static_cast<ULONG>(i), &product)) || product == nullptr) {
            continue;
        }
        if (AppendProductWhenOn(product, names, capacity)) {
            ++*count;
        }
        product->Release();
    }
    list->Release();
    return result;
}
