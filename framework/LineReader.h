#pragma once
// Reads a single-byte text file line by line with the rules shared by the language file and the
// update list: a line ends at LF or CR LF; a CR not directly followed by LF is dropped and does
// not end the line; a Ctrl+Z (26) at the start of a line ends the file.

#include <QByteArray>
#include <QFile>
#include <QString>

class LineReader {
public:
    // Opens the file; throws EInOutError when it can't be opened.
    explicit LineReader(const QString& fileName);
    // Reads from an open device that stays owned by the caller.
    explicit LineReader(QIODevice& device);

    // True when no further line can be read (end of data, or Ctrl+Z at the start of a line).
    // Throws EInOutError when a read fails.
    bool atEnd();
    // The next line without its end; an empty line at the end of the file. Throws EInOutError
    // when a read fails.
    QByteArray readLine();

private:
    // Makes at least one unread byte available; false at the end of the data.
    bool fill();

    QFile file_;
    QIODevice* device_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    bool eof_ = false;
};
