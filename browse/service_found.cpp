// OnServiceFound: host and vendor filters, TXT keys to the description, the
// MAC address, and the record posted to the window.
#include "browse/service_found.h"

#include <string.h>
#include <wchar.h>

#include "core/device_record.h"
#include "core/maker.h"
#include "core/text_copy.h"
#include "browse/mdns_events.h"
#include "browse/reported_hosts.h"
#include "net/address_class.h"

namespace {

constexpr wchar_t kReverseSuffix[] = L".in-addr.arpa";
constexpr size_t kReverseSuffixChars = 13;

struct TxtValues {
    wchar_t vendor[kTxtValueChars];
    wchar_t model[kTxtValueChars];
    wchar_t firmware[kTxtValueChars];
};

struct TxtKey {
    const wchar_t* key;
    size_t length;
    wchar_t (TxtValues::*value)[kTxtValueChars];
};

const TxtKey kTxtKeys[] = {
    {L"vendor=", 7, &TxtValues::vendor},
    {L"model=", 6, &TxtValues::model},
    {L"firmware_version=", 17, &TxtValues::firmware},
};

bool IsReverseLookupName(const wchar_t* hostName)
{
    const wchar_t* found = wcsstr(hostName, kReverseSuffix);
    return found != nullptr && wcslen(hostName) >= kReverseSuffixChars &&
           found == hostName + wcslen(hostName) - kReverseSuffixChars;
}

// Case-sensitive keys at the very start; the last entry of a key wins;
// values longer than 63 characters are cut.
void ReadTxtValues(const ResolvedService* service, TxtValues* values)
{
    memset(values, 0, sizeof(*values));
    uint32_t index = 0;
    for (const wchar_t* text = NextTxtString(service, nullptr, &index); text != nullptr;
         text = NextTxtString(service, text, &index)) {
        for (const TxtKey& key : kTxtKeys) {
            if (wcsncmp(text, key.key, key.length) == 0) {
                CopyText(values->*key.value, kTxtValueChars, text + key.length);
                break;
            }
        }
    }
}

void AppendText(wchar_t* dest, size_t capacity, const wchar_t* text)
{
    size_t used = wcslen(dest);
    CopyText(dest + used, capacity - used, text);
}

// "vendor model - vfirmware", the vendor in its own letter case.
void ComposeDescription(const TxtValues& values, wchar_t* description)
{
    CopyText(description, kDescriptionChars, values.vendor);
    if (values.model[0] != L'\0') {
        AppendText(description, kDescriptionChars, L" ");
        AppendText(description, kDescriptionChars, values.model);
    }
    if (values.firmware[0] != L'\0') {
        AppendText(description, kDescriptionChars, L" - v");
        AppendText(description, kDescriptionChars, values.firmware);
    }
}

// The instance's own label: the PTR target up to its service type ("._").
void CopyInstanceLabel(wchar_t* label, const wchar_t* instanceName)
{
    size_t length = 0;
    while (instanceName[length] != L'\0' && !(instanceName[length] == L'.' && instanceName[length + 1] == L'_')) {
        ++length;
    }
    size_t capacity = kInstanceNameChars;
    size_t kept = length < capacity ? length + 1 : capacity;
    CopyText(label, kept, instanceName);
}

}  // namespace

int32_t OnServiceFound(const ResolvedService* service, HWND, HANDLE abortEvent,
                       ReportedHosts* reportedHosts, uint32_t macWaitMs)
{
    TxtValues values;
    ReadTxtValues(service, &values);
    unsigned char mac[6] = {};
    bool sharedMac = false;
    MacLookup lookup = kMacUnknown;
    if (!IsReverseLookupName(service->hostName) && lstrcmpiW(values.vendor, kMakerWord) == 0) {
        lookup = LookUpMacAddress(service->address, service->heardOn, mac, abortEvent, macWaitMs, &sharedMac);
    }
    if (lookup == kMacPending) {
        return kServiceAwaitingMac;
    }
    if (lookup != kMacFound) {
        if (reportedHosts != nullptr) {
            ForgetReportedHost(reportedHosts, service->hostName, service->address);
        }
        return kServiceIgnored;
    }

    DeviceRecord* record = AllocateDeviceRecord();
    if (record == nullptr) {
        return kServiceIgnored;
    }
    record->fromMdns = sharedMac ? kMdnsAnswerSharedMac : kMdnsAnswer;
    ComposeDescription(values, record->description);
    CopyText(record->name, kNameChars, service->hostName);
    wsprintfW(record->macText, L"%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
              mac[4], mac[5]);
    const unsigned char* octets = reinterpret_cast<const unsigned char*>(&service->address);
    wsprintfW(record->ipText, L"%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    // The same state a broadcast reply from this address earns on this
    // interface, so that a device both paths find keeps one colour.
    const InterfaceSubnet& heardOn = service->heardOn;
    record->state = ClassifySender(service->address, heardOn.address, heardOn.mask, heardOn.address & heardOn.mask);
    record->heardOn = heardOn.address;
    CopyInstanceLabel(record->instanceName, service->instanceName);
    record->arpConfirmed = 1;
    record->arpMismatch = 0;
    // The SRV port is not used: the devices serve their page on 80.
    CopyText(record->portText, kPortTextChars, L"80");
    record->lastSeen = GetTickCount();

    if (reportedHosts != nullptr) {
        RememberReportedHost(reportedHosts, record, service->address, record->lastSeen);
    }
    // The window owns the record once posted; a failed post frees it.
    if (!PostDeviceRecord(record)) {
        return kServiceIgnored;
    }
    NoteMakerInstance(heardOn.address, service->instanceName, service->address);
    return kServicePosted;
}
