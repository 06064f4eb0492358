#include "logfile.h"

#include <windows.h>

#include <fstream>
#include <sstream>

TempLogFile::TempLogFile()
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    char name[MAX_PATH];
    GetTempFileNameA(folder, "hvx", 0, name);
    DeleteFileA(name);
    path_ = name;
}

TempLogFile::~TempLogFile()
{
    DeleteFileA(path_.c_str());
}

bool TempLogFile::Exists() const
{
    return GetFileAttributesA(path_.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TempLogFile::Contents() const
{
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool TempLogFile::Lines(std::vector<std::string> *lines) const
{
    std::string text = Contents();
    lines->clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            return false;
        std::string line = text.substr(start, end - start);
        if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos)
            return false;
        lines->push_back(line);
        start = end + 2;
    }
    return true;
}

std::vector<std::string> SplitFields(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}
