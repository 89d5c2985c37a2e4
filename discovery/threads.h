// The two application-wide threads: the one-second expiry tick and the
// watcher that rebuilds the interface table when the IPv4 set-up changes.
#pragma once

unsigned __stdcall ExpiryTicker(void* unused);
unsigned __stdcall AddressWatcher(void* unused);
