#pragma once
// The Remote Access Service client interface as the program uses it: the types, structures and
// codes of the published rasapi32 functions, declared here with the ANSI layout of WINVER 0x0401
// so that the core needs no system header. On a 32-bit build the structures have exactly the
// sizes and field offsets of the platform headers; on a 64-bit build the handle fields become
// pointer-sized, as the platform headers make them there.

#include "common/Win32Types.h"

#include <cstddef>
#include <cstdint>

namespace brindlecove {

// A RAS connection handle (a pointer-sized handle on Windows); 0 when none is known.
using HRASCONN = std::uintptr_t;

// The answer of a forwarding routine when RAS or the function is not available. RAS itself
// answers 0 or an error code from 600 up.
inline constexpr DWORD RasUnavailable = 0xFFFFFFFFu;

// The lengths of the platform headers (RAS_MaxEntryName, UNLEN, MAX_PATH, ...), renamed because
// <windows.h> defines some of those names as macros.
inline constexpr int RasMaxEntryName = 256;
inline constexpr int RasMaxDeviceType = 16;
inline constexpr int RasMaxDeviceName = 128;
inline constexpr int RasMaxPhoneNumber = 128;
inline constexpr int RasMaxCallbackNumber = RasMaxPhoneNumber;
inline constexpr int RasMaxIpAddress = 15;
inline constexpr int RasMaxAreaCode = 10;
inline constexpr int RasMaxPadType = 32;
inline constexpr int RasMaxX25Address = 200;
inline constexpr int RasMaxFacilities = 200;
inline constexpr int RasMaxUserData = 200;
inline constexpr int RasUnLen = 256;
inline constexpr int RasPwLen = 256;
inline constexpr int RasDnLen = 15;
inline constexpr int RasMaxPath = 260;

// The RAS error codes the program names or answers, declared once (from raserror.h).
namespace raserror {
inline constexpr DWORD PortAlreadyOpen = 602;            // ERROR_PORT_ALREADY_OPEN
inline constexpr DWORD BufferTooSmall = 603;             // ERROR_BUFFER_TOO_SMALL
inline constexpr DWORD CannotFindPhonebookEntry = 623;   // ERROR_CANNOT_FIND_PHONEBOOK_ENTRY
inline constexpr DWORD CorruptPhonebook = 625;           // ERROR_CORRUPT_PHONEBOOK
inline constexpr DWORD Disconnection = 628;              // ERROR_DISCONNECTION
inline constexpr DWORD UserDisconnection = 631;          // ERROR_USER_DISCONNECTION
inline constexpr DWORD InvalidSize = 632;                // ERROR_INVALID_SIZE
inline constexpr DWORD PortNotAvailable = 633;           // ERROR_PORT_NOT_AVAILABLE
inline constexpr DWORD Unknown = 635;                    // ERROR_UNKNOWN
inline constexpr DWORD NoDialinPermission = 649;         // ERROR_NO_DIALIN_PERMISSION
inline constexpr DWORD FromDevice = 651;                 // ERROR_FROM_DEVICE
inline constexpr DWORD NoConnection = 668;               // ERROR_NO_CONNECTION
inline constexpr DWORD NoAnswer = 678;                   // ERROR_NO_ANSWER
inline constexpr DWORD Authentication = 691;             // ERROR_AUTHENTICATION_FAILURE
inline constexpr DWORD PortOrDevice = 692;               // ERROR_PORT_OR_DEVICE
inline constexpr DWORD RasmanCannotInitialize = 711;     // ERROR_RASMAN_CANNOT_INITIALIZE
inline constexpr DWORD PppTimeout = 718;                 // ERROR_PPP_TIMEOUT
inline constexpr DWORD PppNoProtocolsConfigured = 720;   // ERROR_PPP_NO_PROTOCOLS_CONFIGURED
inline constexpr DWORD NoIpAdapter = 728;                // "The system cannot find an IP adapter."
inline constexpr DWORD ProjectionNotComplete = 730;      // ERROR_PROJECTION_NOT_COMPLETE
inline constexpr DWORD LoopbackDetected = 737;           // ERROR_PPP_LOOPBACK_DETECTED
inline constexpr DWORD UnableToAuthenticateServer = 778; // ERROR_UNABLE_TO_AUTHENTICATE_SERVER
} // namespace raserror

using RASPROJECTION = std::int32_t;
inline constexpr RASPROJECTION RASP_PppIp = 0x8021;

struct RASENTRYNAMEA {
    DWORD dwSize;
    CHAR szEntryName[RasMaxEntryName + 1];
};

struct RASCONNA {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RasMaxEntryName + 1];
    CHAR szDeviceType[RasMaxDeviceType + 1];
    CHAR szDeviceName[RasMaxDeviceName + 1];
    CHAR szPhonebook[RasMaxPath];
    DWORD dwSubEntry;
};

struct RASPPPIP {
    DWORD dwSize;
    DWORD dwError;
    CHAR szIpAddress[RasMaxIpAddress + 1];
    CHAR szServerIpAddress[RasMaxIpAddress + 1];
};

struct RASDIALPARAMSA {
    DWORD dwSize;
    CHAR szEntryName[RasMaxEntryName + 1];
    CHAR szPhoneNumber[RasMaxPhoneNumber + 1];
    CHAR szCallbackNumber[RasMaxCallbackNumber + 1];
    CHAR szUserName[RasUnLen + 1];
    CHAR szPassword[RasPwLen + 1];
    CHAR szDomain[RasDnLen + 1];
    DWORD dwSubEntry;
    ULONG_PTR dwCallbackId;
};

struct RASIPADDR {
    BYTE a, b, c, d;
};

struct RASENTRYA {
    DWORD dwSize;
    DWORD dwfOptions;
    DWORD dwCountryID;
    DWORD dwCountryCode;
    CHAR szAreaCode[RasMaxAreaCode + 1];
    CHAR szLocalPhoneNumber[RasMaxPhoneNumber + 1];
    DWORD dwAlternateOffset;
    RASIPADDR ipaddr;
    RASIPADDR ipaddrDns;
    RASIPADDR ipaddrDnsAlt;
    RASIPADDR ipaddrWins;
    RASIPADDR ipaddrWinsAlt;
    DWORD dwFrameSize;
    DWORD dwfNetProtocols;
    DWORD dwFramingProtocol;
    CHAR szScript[RasMaxPath];
    CHAR szAutodialDll[RasMaxPath];
    CHAR szAutodialFunc[RasMaxPath];
    CHAR szDeviceType[RasMaxDeviceType + 1];
    CHAR szDeviceName[RasMaxDeviceName + 1];
    CHAR szX25PadType[RasMaxPadType + 1];
    CHAR szX25Address[RasMaxX25Address + 1];
    CHAR szX25Facilities[RasMaxFacilities + 1];
    CHAR szX25UserData[RasMaxUserData + 1];
    DWORD dwChannels;
    DWORD dwReserved1;
    DWORD dwReserved2;
    DWORD dwSubEntries;
    DWORD dwDialMode;
    DWORD dwDialExtraPercent;
    DWORD dwDialExtraSampleSeconds;
    DWORD dwHangUpExtraPercent;
    DWORD dwHangUpExtraSampleSeconds;
    DWORD dwIdleDisconnectSeconds;
};

struct RASDIALEXTENSIONS; // only ever passed as a null pointer

// Offsets the program relies on, the same on every build.
static_assert(offsetof(RASENTRYNAMEA, szEntryName) == 4);
static_assert(sizeof(RASENTRYNAMEA) == 264);
static_assert(sizeof(RASPPPIP) == 40);
static_assert(offsetof(RASPPPIP, szIpAddress) == 8);
static_assert(offsetof(RASPPPIP, szServerIpAddress) == 24);
static_assert(offsetof(RASDIALPARAMSA, szEntryName) == 4);
static_assert(sizeof(RASENTRYA) == 1796);
static_assert(offsetof(RASENTRYA, dwCountryCode) == 12);
static_assert(offsetof(RASENTRYA, szAreaCode) == 16);
static_assert(offsetof(RASENTRYA, szLocalPhoneNumber) == 27);
static_assert(offsetof(RASENTRYA, szDeviceType) == 972);
static_assert(offsetof(RASENTRYA, szDeviceName) == 989);

// The structures holding a handle follow the pointer size.
static_assert(sizeof(void*) != 4 || sizeof(RASCONNA) == 676);
static_assert(sizeof(void*) != 4 || offsetof(RASCONNA, hrasconn) == 4);
static_assert(sizeof(void*) != 4 || offsetof(RASCONNA, szEntryName) == 8);
static_assert(sizeof(void*) != 4 || sizeof(RASDIALPARAMSA) == 1060);
static_assert(sizeof(void*) != 8 || sizeof(RASCONNA) == 688);
static_assert(sizeof(void*) != 8 || offsetof(RASCONNA, szEntryName) == 16);
static_assert(sizeof(void*) != 8 || sizeof(RASDIALPARAMSA) == 1064);

} // namespace brindlecove
