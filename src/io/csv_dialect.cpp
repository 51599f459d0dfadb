// The data set options of a delimited text file, from their values as written.
#include <cctype>

#include "base/messages.h"
#include "io/data_messages.h"
#include "io/dataset.h"

namespace velloc::host {

namespace {

// Upper case without '-', '_' and blanks: "utf-8", "UTF8" and "Utf_8" are one name.
std::string encodingKey(std::string_view s) {
    std::string k;
    for (char c : s)
        if (c != '-' && c != '_' && c != ' ')
            k += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return k;
}

[[noreturn]] void refuse(int number, Args args) {
    if (!hasMessage(kGroupHostData, datamsg::kCannotOpen)) addDataSetMessages();
    xpmlog(kGroupHostData, number, args);
    throw DataSetError{xpmstr(kGroupHostData, number, args)};
}

} // namespace

CsvDialect makeCsvDialect(std::string_view statement, std::string_view option,
                          const std::string* delimiter, const std::string* encoding,
                          const std::vector<std::string>* missing) {
    CsvDialect d;
    if (delimiter) {
        const std::string& v = *delimiter;
        std::string key = encodingKey(v);
        if (v == "\\t" || key == "TAB")
            d.delimiter = '\t';
        else if (v.size() == 1 && v[0] != '"' && v[0] != '\n' && v[0] != '\r')
            d.delimiter = v[0];
        else
            refuse(datamsg::kBadDelimiter, {std::string(statement), std::string(option), v});
    }
    if (encoding) {
        std::string key = encodingKey(*encoding);
        if (key == "UTF8") d.encoding = CsvDialect::Encoding::Utf8;
        // Latin-1 files are read as Windows-1252, its superset in all printable characters.
        else if (key == "WINDOWS1252" || key == "CP1252" || key == "LATIN1" || key == "ISO88591")
            d.encoding = CsvDialect::Encoding::Cp1252;
        else
            refuse(datamsg::kBadEncoding, {std::string(statement), std::string(option), *encoding});
    }
    if (missing) d.missing = *missing;
    return d;
}

} // namespace velloc::host
