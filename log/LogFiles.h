#pragma once

// The monitor's log files, all in the product folder.
inline constexpr const wchar_t* kErrorFunctionLogs = L"ErrorFunctionLogs.txt";
inline constexpr const wchar_t* kSuccessAppConLogs = L"SuccessAppConLogs.txt";
inline constexpr const wchar_t* kErrorWindowLogs = L"ErrorWindowLogs.txt";

// The product folder below the program-data folder.
inline constexpr const wchar_t* kProductSubfolder = L"\\Pelorin";
