#ifndef HORAVEX_TEST_LOGFILE_H
#define HORAVEX_TEST_LOGFILE_H

#include <string>
#include <vector>

/* A log file path of the test's own in the temporary folder, removed
   when the test is done. */
class TempLogFile {
public:
    TempLogFile();
    ~TempLogFile();
    TempLogFile(const TempLogFile &) = delete;
    TempLogFile &operator=(const TempLogFile &) = delete;

    const std::string &Path() const { return path_; }
    bool Exists() const;
    /* The bytes on disk. */
    std::string Contents() const;
    /* Its lines, each without its CR LF; false when a line ends otherwise. */
    bool Lines(std::vector<std::string> *lines) const;

private:
    std::string path_;
};

std::vector<std::string> SplitFields(const std::string &line);

#endif
