#ifndef SWP08_MESSAGE_H
#define SWP08_MESSAGE_H

// The messages of the SW-P-08 router control protocol that Tessaline
// sends and reads: crosspoint interrogate, connect, tally and tally dumps,
// protects and their dumps, names, dual controller status, implementation
// and invalid message, each in its general form and, where it has one, its
// extended form (command + 128: whole-byte matrix and level, 16-bit
// numbers). A Message is the DATA of one frame taken apart; all numbers are
// zero-based, as on the wire. Plain C++.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace swp08 {

// General command numbers; the extended form of a command is its number
// plus Extended.
enum Command : uint8_t {
    Interrogate = 1,
    Connect = 2,
    Tally = 3,
    Connected = 4,
    DualStatusRequest = 8,
    DualStatus = 9,
    ProtectInterrogate = 10,
    ProtectTally = 11,
    ProtectConnect = 12,
    ProtectConnected = 13,
    ProtectDisconnect = 14,
    ProtectDisconnected = 15,
    ProtectDumpRequest = 19,
    ProtectDump = 20,
    DumpRequest = 21,
    DumpByte = 22,    // tally dump, one byte per source (no extended form)
    DumpWord = 23,    // tally dump, 16-bit sources; extended: 151
    NamesUpdated = 30,
    ImplementationRequest = 97,
    Implementation = 98,
    Invalid = 99,
    AllSourceNames = 100,
    SourceName = 101,
    AllDestNames = 102,
    DestName = 103,
    SourceNames = 106,
    DestNames = 107,
    Extended = 0x80,
};

// PROTECT states of the protect messages.
enum Protect { NotProtected = 0, Protected = 1, OverrideProtected = 2, ThirdPartyProtected = 3 };

enum {
    MaxStandardMatrix = 15,
    MaxStandardLevel = 15,
    MaxStandardNumber = 1023,  // sources, destinations, devices
    MaxExtendedMatrix = 255,
    MaxExtendedLevel = 255,
    MaxExtendedNumber = 65535,
    MaxDumpEntries = 64,       // per tally or protect dump message sent
    MaxLengthCode = 4,
};

// Characters of a name for each name-length code (0 to 4), and how many
// names one response carries.
int nameChars(int lengthCode);
int namesPerMessage(int lengthCode);

struct ProtectEntry {
    int state = 0;
    int device = 0;
};

struct Message {
    uint8_t command = 0;  // general command number
    bool extended = false;
    int matrix = 0;
    int level = 0;
    int dest = 0;         // destination; first destination of a dump or names
    int source = 0;       // source; first source of source names
    int device = 0;
    int protect = 0;      // PROTECT state
    bool badSource = false; // the router's "bad source" flag on a tally
    int lengthCode = 0;   // names
    std::vector<int> sources;           // tally dump: source of dest + i
    std::vector<ProtectEntry> protects; // protect dump: of dest + i
    std::vector<std::string> names;     // names: of first + i, trailing spaces and NULs dropped
    // Dual status (2 bytes), names updated (8), implementation (the two
    // counts, then the command numbers), invalid message (the command).
    std::vector<uint8_t> bytes;

    // The command byte on the wire.
    uint8_t wireCommand() const { return uint8_t(command | (extended ? Extended : 0)); }
};

// Whether the numbers of a message need its extended form.
bool needsExtended(int matrix, int level, int a, int b = 0);

// Takes the DATA of a frame apart. False, with the reason in *why, for a
// command this codec does not know or a length that does not fit it.
bool decode(const uint8_t *data, size_t n, Message *out, const char **why);
inline bool decode(const std::vector<uint8_t> &data, Message *out, const char **why)
{
    return decode(data.data(), data.size(), out, why);
}

// The DATA of a message in the form m.extended says; empty when a number
// does not fit that form or the message is too long for one frame.
std::vector<uint8_t> encode(const Message &m);

// A message as one readable line: "connect m0 l3 d999 s300".
std::string describe(const Message &m);
// The same for any DATA: the message, or what is wrong with it.
std::string describeData(const uint8_t *data, size_t n);

} // namespace swp08

#endif
