// The two identities of the computer the installer runs on: the machine
// identifier that every web-service request carries (as its digest), and
// the hardware fingerprint the product tracker reports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace stubframework::core {

// "V-" and an upper-case GUID on a known virtual machine, "P-" and 36
// characters made from a network adapter's permanent address elsewhere; 38
// characters either way. Kept in a machine-wide file, so a machine keeps
// its identifier across runs. The first success is kept for the process.
// False, with `identifier` untouched, when it cannot be computed.
bool ComputeMachineIdentifier(std::string& identifier);
// The same without the process-wide cache.
bool ComputeMachineIdentifierUncached(std::string& identifier);

// Replaces `token` by a new upper-case GUID without braces; untouched (and
// false) when none can be made.
bool MakeRequestToken(std::string& token);

// True when the computer's model and maker could be read; `isVirtual` says
// whether they name a known virtual machine (compared exactly).
bool IsVirtualMachine(bool& isVirtual);

// The permanent addresses of the computer's own network adapters (no USB,
// no Bluetooth) as "XX:XX:XX:XX:XX:XX"; false when there is none.
bool ListAdapterMacAddresses(std::vector<std::string>& addresses);

// The 36 characters of a "P-" identifier: hyphens at 8, 13, 18 and 23, the
// address's letters and digits over and over everywhere else. Empty when
// the address has no letter or digit.
std::string IdentifierFromAddress(std::string_view address);

// Where the identifier is kept.
std::string StoredIdentifierPath();

// "V2" and 32 upper-case hex digits: the MD5 of the computer's model,
// serial numbers and network card. Each part found is also recorded under
// HKEY_CURRENT_USER\Software\Zelvo\PCU.
std::string ComputeHardwareFingerprint();

// The network-card part of the fingerprint: the one recorded by an earlier
// run, else the address of the adapter with the lowest index (then
// recorded). False when there is neither.
bool ReadNetworkCardId(std::string& part);

}  // namespace stubframework::core
