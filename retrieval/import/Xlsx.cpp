#include "retrieval/import/Xlsx.h"

#include <cstdlib>
#include <libxml/xmlreader.h>
#include <memory>
#include <string>
#include <vector>

namespace retrieval {

namespace {

constexpr std::uint64_t kMaxPartBytes = std::uint64_t{256} << 20;
constexpr std::size_t kMaxSharedStrings = 4'000'000;

[[noreturn]] void Unreadable(std::string_view name, const std::string& why) {
    throw ImportError("Die Excel-Datei „" + std::string(name) + "“ kann nicht gelesen werden (" + why +
                      "). Bitte in Excel als „CSV UTF-8“ speichern und diese Datei importieren.");
}

struct ReaderFree {
    void operator()(xmlTextReaderPtr reader) const { xmlFreeTextReader(reader); }
};

// A part of the workbook as a reader: no DTD, no entities replaced, no network, no messages.
class PartReader {
public:
    PartReader(const std::string& xml, std::string_view name, std::string_view part)
        : name_(name), part_(part) {
        // Workbooks carry no document type; one here can only be an attempt at entity expansion.
        if (xml.find("<!DOCTYPE") != std::string::npos || xml.find("<!ENTITY") != std::string::npos)
            Unreadable(name_, std::string(part_) + " enthält eine Dokumenttyp-Deklaration");
        reader_.reset(xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
        if (!reader_)
            Unreadable(name_, std::string(part_) + " ist kein XML");
    }

    // The next node; false at the end.
    bool next() {
        const int rc = xmlTextReaderRead(reader_.get());
        if (rc < 0)
            Unreadable(name_, std::string(part_) + " ist kein gültiges XML");
        return rc == 1;
    }
    int type() const { return xmlTextReaderNodeType(reader_.get()); }
    bool element(std::string_view local) const {
        return type() == XML_READER_TYPE_ELEMENT && localName() == local;
    }
    bool end(std::string_view local) const {
        return type() == XML_READER_TYPE_END_ELEMENT && localName() == local;
    }
    bool empty() const { return xmlTextReaderIsEmptyElement(reader_.get()) == 1; }
    std::string_view localName() const {
        const xmlChar* n = xmlTextReaderConstLocalName(reader_.get());
        return n == nullptr ? std::string_view() : reinterpret_cast<const char*>(n);
    }
    bool isText() const {
        const int t = type();
        return t == XML_READER_TYPE_TEXT || t == XML_READER_TYPE_CDATA || t == XML_READER_TYPE_WHITESPACE ||
               t == XML_READER_TYPE_SIGNIFICANT_WHITESPACE;
    }
    std::string_view value() const {
        const xmlChar* v = xmlTextReaderConstValue(reader_.get());
        return v == nullptr ? std::string_view() : reinterpret_cast<const char*>(v);
    }
    // An attribute by its local name, whatever its namespace prefix.
    std::string attribute(std::string_view local) const {
        std::string out;
        if (xmlTextReaderMoveToFirstAttribute(reader_.get()) != 1)
            return out;
        do {
            if (localName() == local) {
                out = value();
                break;
            }
        } while (xmlTextReaderMoveToNextAttribute(reader_.get()) == 1);
        xmlTextReaderMoveToElement(reader_.get());
        return out;
    }

private:
    std::string_view name_;
    std::string_view part_;
    std::unique_ptr<xmlTextReader, ReaderFree> reader_;
};

std::string ReadPart(ZipArchive& archive, std::string_view part, std::string_view name, bool required) {
    const ZipArchive::Entry* entry = archive.find(part);
    if (entry == nullptr) {
        if (required)
            Unreadable(name, std::string(part) + " fehlt");
        return {};
    }
    return archive.read(*entry, kMaxPartBytes);
}

// The path of the first sheet: workbook.xml names it, its relations give the file.
std::string FirstSheetPath(ZipArchive& archive, std::string_view name) {
    std::string relation;
    {
        const std::string xml = ReadPart(archive, "xl/workbook.xml", name, true);
        PartReader r(xml, name, "xl/workbook.xml");
        while (r.next())
            if (r.element("sheet")) {
                relation = r.attribute("id");
                break;
            }
    }
    if (relation.empty())
        Unreadable(name, "die Arbeitsmappe hat kein Blatt");
    const std::string xml = ReadPart(archive, "xl/_rels/workbook.xml.rels", name, true);
    PartReader r(xml, name, "xl/_rels/workbook.xml.rels");
    while (r.next()) {
        if (!r.element("Relationship") || r.attribute("Id") != relation)
            continue;
        std::string target = r.attribute("Target");
        if (target.starts_with("/"))
            return target.substr(1);
        return "xl/" + target;
    }
    Unreadable(name, "das erste Blatt fehlt");
}

std::vector<std::string> SharedStrings(ZipArchive& archive, std::string_view name) {
    std::vector<std::string> strings;
    const std::string xml = ReadPart(archive, "xl/sharedStrings.xml", name, false);
    if (xml.empty())
        return strings;
    PartReader r(xml, name, "xl/sharedStrings.xml");
    bool inText = false, phonetic = false;
    while (r.next()) {
        if (r.element("si")) {
            if (strings.size() >= kMaxSharedStrings)
                Unreadable(name, "zu viele Texte");
            strings.emplace_back();
        } else if (r.element("rPh")) {
            phonetic = !r.empty();
        } else if (r.end("rPh")) {
            phonetic = false;
        } else if (r.element("t")) {
            inText = !r.empty();
        } else if (r.end("t")) {
            inText = false;
        } else if (inText && !phonetic && !strings.empty() && r.isText()) {
            strings.back() += r.value();
        }
    }
    return strings;
}

// "C12" -> 2.
std::size_t ColumnOf(std::string_view ref, std::size_t fallback) {
    std::size_t col = 0, letters = 0;
    for (const char c : ref) {
        if (c >= 'A' && c <= 'Z') {
            col = col * 26 + static_cast<std::size_t>(c - 'A' + 1);
            if (++letters > 3)
                return fallback;
        } else {
            break;
        }
    }
    return letters == 0 ? fallback : col - 1;
}

} // namespace

bool IsXlsx(const ZipArchive& archive) {
    return archive.find("xl/workbook.xml") != nullptr;
}

void ReadXlsx(ZipArchive& archive, LinkSheet& sheet, std::string_view name) {
    const std::string sheetPath = FirstSheetPath(archive, name);
    const std::vector<std::string> shared = SharedStrings(archive, name);
    const std::string xml = ReadPart(archive, sheetPath, name, true);
    PartReader r(xml, name, sheetPath);

    std::vector<std::string> row;
    std::string type, value;
    std::size_t col = 0, rows = 0;
    bool inValue = false, inInline = false, inRow = false;
    const auto endRow = [&] {
        while (!row.empty() && row.back().empty())
            row.pop_back();
        if (row.empty())
            return;
        if (++rows > kMaxImportRows + 1)
            throw ImportError("Das erste Blatt von „" + std::string(name) + "“ hat mehr als " +
                              GroupedNumber(kMaxImportRows) +
                              " Zeilen. Bitte in kleineren Teilen importieren.");
        sheet.beginRow(sheet.text().size());
        for (const std::string& cell : row)
            sheet.appendCell(cell);
        if (sheet.text().size() > kMaxImportBytes)
            Unreadable(name, "das Blatt ist größer als " + GroupedNumber(kMaxImportBytes >> 20) + " MiB");
        row.clear();
    };
    while (r.next()) {
        if (r.element("row")) {
            inRow = true;
            row.clear();
            col = 0;
            if (r.empty()) {
                inRow = false;
                endRow();
            }
        } else if (r.end("row")) {
            inRow = false;
            endRow();
        } else if (inRow && r.element("c")) {
            col = ColumnOf(r.attribute("r"), col);
            if (col >= kMaxImportColumns)
                Unreadable(name, "mehr als " + GroupedNumber(kMaxImportColumns) + " Spalten");
            type = r.attribute("t");
            value.clear();
            if (r.empty())
                ++col;
        } else if (inRow && r.end("c")) {
            std::string cell;
            if (type == "s") {
                char* end = nullptr;
                const unsigned long index = std::strtoul(value.c_str(), &end, 10);
                if (!value.empty() && *end == '\0' && index < shared.size())
                    cell = shared[index];
            } else if (type == "b") {
                cell = value == "1" ? "WAHR" : "FALSCH";
            } else {
                cell = std::move(value);
            }
            if (row.size() <= col)
                row.resize(col + 1);
            row[col] = std::move(cell);
            value.clear();
            ++col;
        } else if (r.element("v")) {
            inValue = !r.empty();
        } else if (r.end("v")) {
            inValue = false;
        } else if (r.element("is")) {
            inInline = !r.empty();
        } else if (r.end("is")) {
            inInline = false;
        } else if (r.element("t") && inInline) {
            inValue = !r.empty();
        } else if (r.end("t") && inInline) {
            inValue = false;
        } else if (inValue && r.isText()) {
            value += r.value();
            if (value.size() > kMaxImportLineBytes)
                Unreadable(name, "eine Zelle ist länger als 1 MiB");
        }
    }
    sheet.finish();
}

} // namespace retrieval
