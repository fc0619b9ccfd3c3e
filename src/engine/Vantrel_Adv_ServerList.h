// The master-server list: a small HTTP/1.0 download into text lines, the game server's
// register/unregister requests, and the server list with its per-server query.
#pragma once

#include "Zelvik_ServerList.h"

#include <cstdint>
#include <string>
#include <vector>

struct DoublyLinkedList;
struct Server;

// One downloaded line: header lines (kind 0) until the first empty line, body lines after.
constexpr uint32_t kLineHeader = 0;
constexpr uint32_t kLineBody = 1;
struct HttpLine {
    uint32_t kind;
    std::u16string text; // one unit per received byte; not decoded
};
// Element of the list form: text is calloc'ed, zero terminated, freed by DownloadLines_Clear.
struct DownloadLine {
    uint32_t kind;
    uint32_t length;
    char16_t* text;
};

// A hostile master cannot make us hold more than this, nor list more servers: the list
// download stops reading after kServerListMaxEntries addresses and drops the rest.
constexpr uint32_t kDownloadMaxBytes = 1u << 20;
constexpr uint32_t kDownloadMaxLines = 1u << 16;
constexpr uint32_t kServerListMaxEntries = 4096;
// Deadlines: first data, after each chunk, a whole query.
constexpr int32_t kDownloadFirstDataMs = 5000;
constexpr int32_t kDownloadChunkMs = 2000;
constexpr int32_t kQueryLimitMs = 2000;

// Splits received bytes into lines (LF or 0 ends a line, CR is dropped).
void Http_SplitLines(const std::vector<uint8_t>& bytes, std::vector<HttpLine>* lines);
// GET path from host:port into lines; 1 when there is at least one line afterwards. A failed
// connection, or an answer over kDownloadMaxBytes / kDownloadMaxLines, returns 0 and leaves
// lines as they were.
int32_t DownloadFileToLL(const char* host, uint16_t port, const char* path,
                         std::vector<HttpLine>* lines);
// The same into a DoublyLinkedList of DownloadLine (made with sizeof(DownloadLine)).
int32_t DownloadFileToDoublyLL(const char* host, uint16_t port, const char* path,
                               DoublyLinkedList* lines);
void DownloadLines_Clear(DoublyLinkedList* lines);

// The master host from ZELVIK_MASTER ("host[:port]"; default 127.0.0.1, port 80). A port that
// is not a number from 1 to 65535 gives port 0, which never connects.
void ServerList_MasterHost(std::string* host, uint16_t* port);
// Port the queries ask (ZELVIK_GAME_PORT, else 2031); read again by every ServerList_Get.
uint16_t ServerList_GamePort();
// Address game servers listen on (ZELVIK_GAME_ADDRESS, dotted); 0, every address, when unset
// or unreadable. Lets several servers share one port on one machine, each on its own address.
uint32_t ServerList_GameAddress();

// Dotted IPv4 text to the stored value (first octet lowest); false for a line to skip:
// empty, a field above 255, or a character other than digits and dots. Missing fields are 0.
bool ServerList_ParseAddress(std::u16string_view text, uint32_t* address);
std::string ServerList_AddressText(uint32_t address);

// Server slots 8 and 9: 1 when the master answered with at least one line. They ask from the
// game address when one is set, since the master lists a server by its caller's address.
int32_t Server_Register(Server* s);
int32_t Server_Unregister(Server* s);

// 0 only when the network cannot be started; an empty list when the download fails, with its
// problem saying why.
ServerList* ServerList_Get();
int32_t ServerList_Count(ServerList* list);
ServerInfo* ServerList_GetEntry(ServerList* list, int32_t index);
int32_t ServerInfo_Query(ServerInfo* info);
