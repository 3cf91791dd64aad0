// The line reader shared by both programs for their plain text files.
//
// A line ends at a carriage return (13); a line feed (10) directly after it
// belongs to the line end. A line feed anywhere else is an ordinary byte of
// the line. The data ends at the end of the file or at the first byte 26.
// Reading past the end yields empty lines without error. Bytes are returned
// unchanged; lines have no length limit.
#pragma once

#include <string>

class TextFileReader {
public:
    // Opens the file; raises EInOutError when it cannot be opened, and
    // "File not found" for a pipe, a device or a socket, without waiting.
    explicit TextFileReader(const std::string& path);
    ~TextFileReader();
    TextFileReader(const TextFileReader&) = delete;
    TextFileReader& operator=(const TextFileReader&) = delete;

    // The next line; an empty one once the data has ended. Raises
    // EInOutError when reading fails.
    std::string readLine();
    bool atEnd();

private:
    bool fill();
    int peek();

    int m_fd = -1;
    bool m_ended = false; // end of file or byte 26 seen
    std::string m_buffer;
    size_t m_pos = 0;
};
