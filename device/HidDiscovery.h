#pragma once
// Finds the HID interfaces of the configured keys and names them as pseudo-readers
// ("VORTAN HID DEVICE KB 0", "VORTAN HID DEVICE U2F 1"), and turns such a name back into open
// handles for the HID transport.
#include <memory>
#include <string>
#include <vector>

#include "device/HidApi.h"
#include "device/KeyModels.h"

// A reader-list entry is a HID pseudo-reader exactly when its name contains this text.
inline constexpr const wchar_t* kHidReaderNameMarker = L"VORTAN HID DEVICE";

// "VORTAN HID DEVICE <kind> <number>", kind "KB" or "U2F".
std::wstring MakeHidReaderName(const std::wstring& kind, int number);
bool IsHidReaderName(const std::wstring& readerName);

// Appends one pseudo-reader name per usable interface of the model met first among the vendors
// `models` configures (the first interface that opens locks `models` on to its model) and returns
// how many were appended. The interfaces of a configured product that the user may not open
// become the models' permission-denied paths.
int EnumerateHidDevices(HidApi& api, KeyModels& models, std::vector<std::wstring>& names);

// True with both handles open (equal for a "KB" interface); the caller owns them and closes them
// through the same HidApi. False when no interface of the current model of `models` carries that
// name. `whyNotFound`, when given, becomes PermissionDenied when an interface of the model could
// not be opened for lack of permission (so the wanted one may be among them).
bool FindHidDeviceByName(HidApi& api, const KeyModels& models, const std::wstring& name, HidHandle& writeHandle,
                         HidHandle& readHandle, HidOpenFailure* whyNotFound = nullptr);
