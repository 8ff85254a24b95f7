// The desktop's answer to "is this machine online?" (InternetGetConnectedState
// of its internet library). Here: a network interface other than loopback is
// up and has an address. ZORVA_INTERNET_CONNECTED ("1" or "0") replaces the
// answer (tests, and machines that reach the services only through loopback).
#pragma once

#include "platform/kernel/WinTypes.h"

constexpr DWORD INTERNET_CONNECTION_LAN = 0x02;
constexpr DWORD INTERNET_CONNECTION_OFFLINE = 0x20;

// TRUE when online; *flags (may be null) says how.
BOOL InternetGetConnectedState(DWORD* flags, DWORD reserved);
