#include "table/BacklinkTable.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace table {

namespace {

void RequireIndex(std::int32_t value, const char* what) {
    if (value < 0)
        throw std::out_of_range(std::string("Negativer Index für ") + what + ": " + std::to_string(value));
}

void RequireCount(std::int32_t value, const char* what) {
    if (value < 0)
        throw std::invalid_argument(std::string("Negative ") + what + ": " + std::to_string(value));
}

std::int32_t ClampToCount(std::int32_t index, std::int32_t count) {
    return count > 0 ? std::min(index, count - 1) : 0;
}

const std::string kEmpty;

} // namespace

BacklinkTable::BacklinkTable(const toolkit::TextWidth& measure) : measure_(measure) {}

void BacklinkTable::setObserver(TableObserver* observer) {
    observer_ = observer;
}

template <typename Fn>
void BacklinkTable::ForStoredRows(Column& column, std::int32_t from, std::int32_t to, Fn fn) {
    to = static_cast<std::int32_t>(std::min<std::int64_t>(to, column.extent));
    if (from >= to)
        return;
    const auto lastChunk = static_cast<std::size_t>((to - 1) >> kChunkBits);
    for (auto k = static_cast<std::size_t>(from >> kChunkBits); k <= lastChunk && k < column.chunks.size();
         ++k) {
        Chunk* chunk = column.chunks[k].get();
        if (chunk == nullptr)
            continue;
        const std::int32_t base = static_cast<std::int32_t>(k) << kChunkBits;
        const std::int32_t begin = std::max(from, base) - base;
        const std::int32_t end = std::min(to - base, kChunkSize);
        for (std::int32_t i = begin; i < end; ++i)
            fn(chunk->text[static_cast<std::size_t>(i)], chunk->width[static_cast<std::size_t>(i)]);
    }
}

BacklinkTable::Column& BacklinkTable::ColumnAt(std::int32_t col) {
    return columns_[col];
}

const BacklinkTable::Column* BacklinkTable::FindColumn(std::int32_t col) const {
    const auto it = columns_.find(col);
    return it == columns_.end() ? nullptr : &it->second;
}

void BacklinkTable::AddWidth(Column& column, std::int32_t width) {
    ++column.widthCounts[width];
}

void BacklinkTable::RemoveWidth(Column& column, std::int32_t width) {
    const auto it = column.widthCounts.find(width);
    if (--it->second == 0)
        column.widthCounts.erase(it);
}

const std::string& BacklinkTable::GetCell(std::int32_t col, std::int32_t row) const {
    RequireIndex(col, "Spalte");
    RequireIndex(row, "Zeile");
    const Column* column = FindColumn(col);
    if (column == nullptr || row >= column->extent)
        return kEmpty;
    const auto k = static_cast<std::size_t>(row >> kChunkBits);
    if (k >= column->chunks.size() || column->chunks[k] == nullptr)
        return kEmpty;
    return column->chunks[k]->text[static_cast<std::size_t>(row & (kChunkSize - 1))];
}

// Returns whether the cell's text changed. Keeps widthCounts exact: every non-empty cell inside
// the row count is measured and counted, nothing else is.
bool BacklinkTable::StoreCell(std::int32_t col, std::int32_t row, std::string&& text) {
    Column& column = ColumnAt(col);
    const auto k = static_cast<std::size_t>(row >> kChunkBits);
    const bool stored = k < column.chunks.size() && column.chunks[k] != nullptr;
    if (!stored) {
        if (text.empty())
            return false;
        if (k >= column.chunks.size())
            column.chunks.resize(k + 1);
        column.chunks[k] = std::make_unique<Chunk>();
    }
    Chunk& chunk = *column.chunks[k];
    const auto i = static_cast<std::size_t>(row & (kChunkSize - 1));
    std::string& slot = chunk.text[i];
    std::int32_t& width = chunk.width[i];
    if (slot == text)
        return false;
    DropNote(col, row); // the note spoke of the old text
    const bool counted = row < rowCount_;
    if (counted && !slot.empty())
        RemoveWidth(column, width);
    if (text.empty()) {
        std::string().swap(slot);
        width = kUnmeasured;
        return true;
    }
    slot = std::move(text);
    width = counted ? measure_.width(slot) : kUnmeasured;
    if (counted)
        AddWidth(column, width);
    column.extent = std::max(column.extent, std::int64_t{row} + 1);
    return true;
}

void BacklinkTable::SetCell(std::int32_t col, std::int32_t row, std::string text) {
    RequireIndex(col, "Spalte");
    RequireIndex(row, "Zeile");
    if (StoreCell(col, row, std::move(text)) && observer_ != nullptr && Visible(col, row))
        observer_->cellChanged(col, row);
}

std::int32_t BacklinkTable::RowCount() const {
    return rowCount_;
}

std::int32_t BacklinkTable::ColCount() const {
    return colCount_;
}

void BacklinkTable::ChangeRowCount(std::int32_t count) {
    const std::int32_t old = rowCount_;
    if (count < old) {
        for (auto& entry : columns_) {
            Column& column = entry.second;
            ForStoredRows(column, count, old, [&column](std::string& text, std::int32_t& width) {
                if (!text.empty())
                    RemoveWidth(column, width);
            });
        }
    } else if (count > old) {
        for (auto& entry : columns_) {
            Column& column = entry.second;
            ForStoredRows(column, old, count, [this, &column](std::string& text, std::int32_t& width) {
                if (text.empty())
                    return;
                if (width == kUnmeasured)
                    width = measure_.width(text);
                AddWidth(column, width);
            });
        }
    }
    rowCount_ = count;
    row_ = ClampToCount(row_, count);
}

void BacklinkTable::SetRowCount(std::int32_t count) {
    RequireCount(count, "Zeilenzahl");
    const std::int32_t old = rowCount_;
    ChangeRowCount(count);
    if (observer_ != nullptr && old != count)
        observer_->rowCountChanged(old, count);
}

void BacklinkTable::ChangeColCount(std::int32_t count) {
    colCount_ = count;
    col_ = ClampToCount(col_, count);
}

void BacklinkTable::SetColCount(std::int32_t count) {
    RequireCount(count, "Spaltenzahl");
    const std::int32_t old = colCount_;
    ChangeColCount(count);
    if (observer_ != nullptr && old != count)
        observer_->colCountChanged(old, count);
}

std::int32_t BacklinkTable::Col() const {
    return col_;
}

std::int32_t BacklinkTable::Row() const {
    return row_;
}

void BacklinkTable::SetCurrentCell(std::int32_t col, std::int32_t row) {
    if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_)
        throw std::out_of_range("Zelle (" + std::to_string(col) + ", " + std::to_string(row) +
                                ") liegt außerhalb der Tabelle");
    col_ = col;
    row_ = row;
}

std::int32_t BacklinkTable::ColWidth(std::int32_t col) const {
    RequireIndex(col, "Spalte");
    const Column* column = FindColumn(col);
    return column == nullptr ? kStartWidth : column->width;
}

void BacklinkTable::ClearRows() {
    std::erase_if(annotations_, [this](const auto& entry) { return entry.first < rowCount_; });
    for (auto& [index, column] : columns_) {
        column.widthCounts.clear();
        if (column.extent <= rowCount_) {
            std::vector<std::unique_ptr<Chunk>>().swap(column.chunks);
            column.extent = 0;
            continue;
        }
        const auto chunksInRange = static_cast<std::size_t>(rowCount_ >> kChunkBits);
        for (std::size_t k = 0; k < chunksInRange && k < column.chunks.size(); ++k)
            column.chunks[k].reset();
        ForStoredRows(column, static_cast<std::int32_t>(chunksInRange) << kChunkBits, rowCount_,
                      [](std::string& text, std::int32_t& width) {
                          std::string().swap(text);
                          width = kUnmeasured;
                      });
    }
}

void BacklinkTable::DropNote(std::int32_t col, std::int32_t row) {
    if (annotations_.empty())
        return;
    const auto it = annotations_.find(row);
    if (it != annotations_.end() && it->second.erase(col) > 0 && it->second.empty())
        annotations_.erase(it);
}

void BacklinkTable::ClearAll() {
    ClearRows();
    if (observer_ != nullptr)
        observer_->tableReset();
}

void BacklinkTable::ResetWithHeaders(const std::vector<std::string>& headers) {
    if (headers.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw std::length_error("Zu viele Spaltenköpfe");
    ClearRows();
    ChangeRowCount(2);
    for (std::size_t i = 0; i < headers.size(); ++i)
        StoreCell(static_cast<std::int32_t>(i), 0, std::string(headers[i]));
    ChangeColCount(static_cast<std::int32_t>(headers.size()));
    if (observer_ != nullptr)
        observer_->tableReset();
}

template <typename Cells> void BacklinkTable::Append(Cells&& cells) {
    const std::int32_t row = rowCount_;
    if (row == std::numeric_limits<std::int32_t>::max() ||
        cells.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw std::length_error("Die Tabelle kann keine weitere Zeile aufnehmen");
    StoreCell(0, row, std::to_string(row));
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if constexpr (std::is_rvalue_reference_v<Cells&&>)
            StoreCell(static_cast<std::int32_t>(i + 1), row, std::move(cells[i]));
        else
            StoreCell(static_cast<std::int32_t>(i + 1), row, std::string(cells[i]));
    }
    ChangeRowCount(row + 1);
    if (observer_ != nullptr)
        observer_->rowCountChanged(row, row + 1);
}

void BacklinkTable::AppendRecord(const std::vector<std::string>& cells) {
    Append(cells);
}

void BacklinkTable::AppendRecord(std::vector<std::string>&& cells) {
    Append(std::move(cells));
}

std::vector<std::string> BacklinkTable::ColumnText(std::int32_t col) const {
    RequireIndex(col, "Spalte");
    std::vector<std::string> texts;
    texts.reserve(static_cast<std::size_t>(rowCount_));
    for (std::int32_t row = 0; row < rowCount_; ++row)
        texts.push_back(GetCell(col, row));
    return texts;
}

std::vector<std::string> BacklinkTable::RowCells(std::int32_t row) const {
    RequireIndex(row, "Zeile");
    std::vector<std::string> cells;
    cells.reserve(static_cast<std::size_t>(colCount_));
    for (std::int32_t col = 0; col < colCount_; ++col)
        cells.push_back(GetCell(col, row));
    return cells;
}

const BacklinkTable::Annotation* BacklinkTable::FindAnnotation(std::int32_t col, std::int32_t row) const {
    const auto it = annotations_.find(row);
    if (it == annotations_.end())
        return nullptr;
    const auto cell = it->second.find(col);
    return cell == it->second.end() ? nullptr : &cell->second;
}

BacklinkTable::Annotation* BacklinkTable::FindAnnotation(std::int32_t col, std::int32_t row) {
    return const_cast<Annotation*>(std::as_const(*this).FindAnnotation(col, row));
}

template <typename Value>
void BacklinkTable::SetField(std::int32_t col, std::int32_t row, Value value, Value Annotation::*field) {
    RequireIndex(col, "Spalte");
    RequireIndex(row, "Zeile");
    Annotation* annotation = FindAnnotation(col, row);
    if (annotation == nullptr ? value == Value{} : annotation->*field == value)
        return;
    if (annotation == nullptr)
        annotation = &annotations_[row][col];
    annotation->*field = std::move(value);
    if (annotation->empty())
        DropNote(col, row);
    if (observer_ != nullptr && Visible(col, row))
        observer_->cellChanged(col, row);
}

template <typename Value>
std::vector<Value> BacklinkTable::RowField(std::int32_t row, Value Annotation::*field) const {
    RequireIndex(row, "Zeile");
    std::vector<Value> values(static_cast<std::size_t>(colCount_));
    if (const auto it = annotations_.find(row); it != annotations_.end())
        for (const auto& [col, annotation] : it->second) {
            if (col >= colCount_)
                break;
            values[static_cast<std::size_t>(col)] = annotation.*field;
        }
    return values;
}

template <typename Value>
void BacklinkTable::SetRowField(std::int32_t row, const std::vector<Value>& values,
                                Value Annotation::*field) {
    RequireIndex(row, "Zeile");
    if (values.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw std::length_error("Zu viele Einträge für eine Zeile");
    std::vector<std::int32_t> changed;
    std::map<std::int32_t, Annotation>& cells = annotations_[row];
    for (auto it = cells.begin(); it != cells.end();) {
        const auto col = static_cast<std::size_t>(it->first);
        const Value& wanted = col < values.size() ? values[col] : Value{};
        if (it->second.*field != wanted) {
            it->second.*field = wanted;
            changed.push_back(it->first);
        }
        it = it->second.empty() ? cells.erase(it) : std::next(it);
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto col = static_cast<std::int32_t>(i);
        if (values[i] != Value{} && !cells.contains(col)) {
            cells[col].*field = values[i];
            changed.push_back(col);
        }
    }
    if (cells.empty())
        annotations_.erase(row);
    if (observer_ == nullptr)
        return;
    for (const std::int32_t col : changed)
        if (Visible(col, row))
            observer_->cellChanged(col, row);
}

void BacklinkTable::SetCellNote(std::int32_t col, std::int32_t row, std::string note) {
    SetField(col, row, std::move(note), &Annotation::note);
}

const std::string& BacklinkTable::GetCellNote(std::int32_t col, std::int32_t row) const {
    RequireIndex(col, "Spalte");
    RequireIndex(row, "Zeile");
    const Annotation* annotation = FindAnnotation(col, row);
    return annotation == nullptr ? kEmpty : annotation->note;
}

std::vector<std::string> BacklinkTable::RowNotes(std::int32_t row) const {
    return RowField(row, &Annotation::note);
}

void BacklinkTable::SetRowNotes(std::int32_t row, const std::vector<std::string>& notes) {
    SetRowField(row, notes, &Annotation::note);
}

void BacklinkTable::SetCellMark(std::int32_t col, std::int32_t row, CellMark mark) {
    SetField(col, row, mark, &Annotation::mark);
}

CellMark BacklinkTable::GetCellMark(std::int32_t col, std::int32_t row) const {
    RequireIndex(col, "Spalte");
    RequireIndex(row, "Zeile");
    const Annotation* annotation = FindAnnotation(col, row);
    return annotation == nullptr ? CellMark::None : annotation->mark;
}

std::vector<CellMark> BacklinkTable::RowMarks(std::int32_t row) const {
    return RowField(row, &Annotation::mark);
}

void BacklinkTable::SetRowMarks(std::int32_t row, const std::vector<CellMark>& marks) {
    SetRowField(row, marks, &Annotation::mark);
}

void BacklinkTable::FitColumnWidths(std::int32_t minimumWidth) {
    if (minimumWidth < 0)
        throw std::invalid_argument("Negative Mindestbreite: " + std::to_string(minimumWidth));
    for (auto& [index, column] : columns_) {
        if (index >= colCount_)
            break;
        if (column.widthCounts.empty())
            continue;
        const std::int64_t widest = std::max<std::int64_t>(0, column.widthCounts.rbegin()->first);
        if (widest <= minimumWidth)
            continue;
        const auto width = static_cast<std::int32_t>(
            std::min<std::int64_t>(widest + kGridLineWidth + 5, std::numeric_limits<std::int32_t>::max()));
        if (width != column.width) {
            column.width = width;
            if (observer_ != nullptr)
                observer_->colWidthChanged(index, width);
        }
    }
}

} // namespace table
