// The archive layer: the calls, records, callbacks and codes of the UnRAR
// library, answered by libarchive and our own reading of the RAR block
// headers. Qt-free.
//
// Paths are byte strings in the local file-name encoding with "/"
// separators. Entries are written under the process's current directory with
// the paths stored in the archive; nothing is ever written outside it.
#pragma once

#include "RarCodes.h"

#include <functional>

// Open modes.
constexpr unsigned RAR_OM_LIST = 0;
constexpr unsigned RAR_OM_EXTRACT = 1;

// Operations of RARProcessFile.
constexpr int RAR_SKIP = 0;
constexpr int RAR_TEST = 1;
constexpr int RAR_EXTRACT = 2;

struct RAROpenArchiveData {
    const char* ArcName = nullptr;
    unsigned OpenMode = RAR_OM_LIST;
    unsigned OpenResult = 0;
    char* CmtBuf = nullptr; // receives the archive comment, NUL-terminated
    unsigned CmtBufSize = 0;
    unsigned CmtSize = 0;   // bytes written to CmtBuf, NUL included
    unsigned CmtState = 0;  // 0 none, 1 read, ERAR_NO_MEMORY buffer too small (cut), ERAR_BAD_DATA damaged
};

struct RARHeaderData {
    char ArcName[260] = {};  // the volume the entry starts in
    char FileName[260] = {}; // the stored path, "/" separators, NUL-terminated (cut if longer)
    unsigned Flags = 0;
    unsigned PackSize = 0;
    unsigned UnpSize = 0;     // unpacked size, low 32 bits
    unsigned UnpSizeHigh = 0; // unpacked size, high 32 bits
    unsigned HostOS = 0;
    unsigned FileCRC = 0;
    unsigned FileTime = 0;    // DOS date and time
    unsigned UnpVer = 0;
    unsigned Method = 0;
    unsigned FileAttr = 0;
    char* CmtBuf = nullptr;   // entry comments are not supported: leave null
    unsigned CmtBufSize = 0;
    unsigned CmtSize = 0;
    unsigned CmtState = 0;
};

struct RARArchive;
using RARHandle = RARArchive*;

using CHANGEVOLPROC = RarVolumeCallback;
// Called for every chunk of unpacked data (bounded in size); an answer of 0
// or less stops the entry, removes what was written of it and fails it.
using PROCESSDATAPROC = std::function<int(unsigned char* data, int size)>;

// Which code answers what, where the table leaves a choice:
// - RAROpenArchive: ERAR_EOPEN when the first volume cannot be opened,
//   ERAR_BAD_ARCHIVE when it is no RAR archive, ERAR_BAD_DATA when its main
//   header is damaged or the headers are encrypted.
// - RARReadHeader: ERAR_END_ARCHIVE at the end, ERAR_BAD_DATA at a damaged
//   header; after a failed entry, that entry's failure again.
// - RARProcessFile: ERAR_BAD_DATA for a wrong CRC or data libarchive cannot
//   decode; ERAR_BAD_ARCHIVE for a volume that ends inside the data it
//   announces (truncated); ERAR_UNKNOWN_FORMAT for an encrypted entry or an
//   unsupported method; ERAR_EOPEN for a volume that is missing and not put
//   back (also when this entry ends its volume and the next is missing);
//   ERAR_ECREATE for a name or link that would write outside the current
//   directory, or a path that cannot be created there; ERAR_EWRITE for a
//   failed write (a full disk) and for a data callback answering 0 or less;
//   ERAR_ECLOSE when closing the written file fails. A failed entry leaves
//   nothing of itself behind.
// - Change-volume callback: an answer of 0 or less to RAR_VOL_ASK gives up,
//   and to RAR_VOL_NOTIFY stops as well; paths passed are absolute.

// Opens the first volume; OpenResult says why when the handle is null.
RARHandle RAROpenArchive(RAROpenArchiveData* data);
int RARCloseArchive(RARHandle archive);
// Reads the next entry's header: 0, ERAR_END_ARCHIVE at the end, or a
// failure code (ERAR_BAD_DATA for a damaged header).
int RARReadHeader(RARHandle archive, RARHeaderData* header);
// Extracts (RAR_EXTRACT), tests or skips the entry whose header was read
// last. destPath and destName are not supported and must be null.
int RARProcessFile(RARHandle archive, int operation, const char* destPath, const char* destName);
void RARSetChangeVolProc(RARHandle archive, CHANGEVOLPROC callback);
void RARSetProcessDataProc(RARHandle archive, PROCESSDATAPROC callback);
