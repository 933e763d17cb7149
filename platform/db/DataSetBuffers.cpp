// TDataSet: the ring of record buffers and navigation over it.

#include <algorithm>

#include "platform/db/DataSet.h"
#include "platform/db/DataSource.h"
#include "platform/rtl/ScopeGuard.h"

namespace plat {

namespace {

// No grid shows more rows than this; a larger request is cut to it.
constexpr int32_t kMaxBufferCount = 1024;

}  // namespace

TRecordBuffer TDataSet::ActiveBuffer() const {
  if (buffers_.empty()) return nullptr;
  return buffers_[static_cast<size_t>(activeRecord_)];
}

TRecordBuffer TDataSet::TempBuffer() const {
  if (buffers_.empty()) return nullptr;
  return buffers_[static_cast<size_t>(recordCount_)];
}

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  recordCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBuffer(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex == NewIndex) return;
  // A ring of one record and the scratch buffer: every step of it swaps them.
  if (CurIndex - NewIndex == 1 || NewIndex - CurIndex == 1) {
    std::swap(buffers_[static_cast<size_t>(CurIndex)], buffers_[static_cast<size_t>(NewIndex)]);
    return;
  }
  auto first = buffers_.begin();
  if (CurIndex < NewIndex)
    std::rotate(first + CurIndex, first + CurIndex + 1, first + NewIndex + 1);
  else
    std::rotate(first + NewIndex, first + CurIndex, first + CurIndex + 1);
}

void TDataSet::FreeBuffers() noexcept {
  for (TRecordBuffer& buffer : buffers_) {
    if (buffer == nullptr) continue;
    try {
      FreeRecordBuffer(buffer);
    } catch (...) {
      FreeRecordMem(buffer);
    }
    buffer = nullptr;
  }
  buffers_.clear();
  bufferCount_ = 0;
  calcBuffer_ = nullptr;
  ClearBuffers();
}

void TDataSet::UpdateBufferCount() {
  if (!IsCursorOpen()) return;
  int32_t count = 1;
  for (TDataSource* source : dataSources_)
    for (TDataLink* link : source->links_) count = std::max(count, link->BufferCount());
  SetBufferCount(count);
}

void TDataSet::SetBufferCount(int32_t Value) {
  Value = std::clamp(Value, 1, kMaxBufferCount);
  if (Value == bufferCount_ && !buffers_.empty()) return;
  const bool first = buffers_.empty();
  if (first) ClearBuffers();
  if (!first && Value < bufferCount_) {
    // Keep the active record inside the smaller window.
    const int32_t drop = activeRecord_ - (Value - 1);
    if (drop > 0) {
      std::rotate(buffers_.begin(), buffers_.begin() + drop, buffers_.begin() + recordCount_);
      activeRecord_ -= drop;
      recordCount_ -= drop;
      currentRecord_ = currentRecord_ >= drop ? currentRecord_ - drop : -1;
    }
    if (recordCount_ > Value) {
      recordCount_ = Value;
      if (currentRecord_ >= Value) CursorPosChanged();
    }
    for (size_t i = static_cast<size_t>(Value) + 1; i < buffers_.size(); ++i)
      FreeRecordBuffer(buffers_[i]);
    buffers_.resize(static_cast<size_t>(Value) + 1);
    bufferCount_ = Value;
  } else {
    // Reserved first, so that adding a buffer cannot fail after allocating it.
    buffers_.reserve(static_cast<size_t>(Value) + 1);
    while (buffers_.size() < static_cast<size_t>(Value) + 1) {
      TRecordBuffer buffer = AllocRecordBuffer();
      if (buffer == nullptr) DatabaseError("Record buffer not allocated", this);
      buffers_.push_back(buffer);
    }
    bufferCount_ = Value;
    GetNextRecords();
  }
  for (TDataSource* source : dataSources_)
    for (TDataLink* link : source->links_) link->UpdateRange();
}

// ---- the cursor ----

void TDataSet::SetCurrentRecord(int32_t Index) {
  if (currentRecord_ == Index) return;
  TRecordBuffer buffer = buffers_[static_cast<size_t>(Index)];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  currentRecord_ = Index;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

bool TDataSet::GetNextRecord() {
  if (buffers_.empty()) return false;
  TGetMode mode = gmNext;
  if (recordCount_ > 0) {
    SetCurrentRecord(recordCount_ - 1);
    if (state_ == dsInsert && currentRecord_ == activeRecord_ &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  const bool ok = GetRecord(buffers_[static_cast<size_t>(recordCount_)], mode, true) == grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (recordCount_ == 0)
    ActivateBuffers();
  else if (recordCount_ < bufferCount_)
    ++recordCount_;
  else
    MoveBuffer(0, recordCount_);
  currentRecord_ = recordCount_ - 1;
  return true;
}

int32_t TDataSet::GetNextRecords() {
  int32_t count = 0;
  while (recordCount_ < bufferCount_ && GetNextRecord()) ++count;
  return count;
}

bool TDataSet::GetPriorRecord() {
  if (buffers_.empty()) return false;
  if (recordCount_ > 0) SetCurrentRecord(0);
  const bool ok = GetRecord(buffers_[static_cast<size_t>(recordCount_)], gmPrior, true) == grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (recordCount_ == 0) {
    ActivateBuffers();
  } else {
    MoveBuffer(recordCount_, 0);
    if (recordCount_ < bufferCount_) {
      ++recordCount_;
      ++activeRecord_;
    }
  }
  currentRecord_ = 0;
  return true;
}

int32_t TDataSet::GetPriorRecords() {
  int32_t count = 0;
  while (recordCount_ < bufferCount_ && GetPriorRecord()) ++count;
  return count;
}

void TDataSet::Resync(TResyncMode Mode) {
  if (buffers_.empty()) return;  // no cursor: nothing to show
  TRecordBuffer temp = buffers_[static_cast<size_t>(recordCount_)];
  if (Mode.Contains(rmExact)) {
    CursorPosChanged();
    if (GetRecord(temp, gmCurrent, true) != grOK) DatabaseError(SRecordNotFound, this);
  } else if (GetRecord(temp, gmCurrent, false) != grOK && GetRecord(temp, gmNext, false) != grOK &&
             GetRecord(temp, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int32_t count = Mode.Contains(rmCenter) ? (bufferCount_ - 1) / 2 : activeRecord_;
  MoveBuffer(recordCount_, 0);
  ActivateBuffers();
  const auto changed = OnScopeExit([this] { DataEvent(deDataSetChange, 0); });
  while (count > 0 && GetPriorRecord()) --count;
  GetNextRecords();
  GetPriorRecords();
}

// ---- navigation ----

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  {
    const auto changed = OnScopeExit([this] {
      bof_ = true;
      DataEvent(deDataSetChange, 0);
    });
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  }
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  {
    const auto changed = OnScopeExit([this] {
      eof_ = true;
      DataEvent(deDataSetChange, 0);
    });
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  }
  DoAfterScroll();
}

int32_t TDataSet::MoveBy(int32_t Distance) {
  CheckBrowseMode();
  int32_t moved = 0;
  DoBeforeScroll();
  if ((Distance > 0 && !eof_) || (Distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    const int32_t oldRecordCount = recordCount_;
    int32_t scrollCount = 0;
    {
      const auto changed = OnScopeFailure([this] { DataEvent(deDataSetChange, 0); });
      while (Distance > 0) {
        if (activeRecord_ < recordCount_ - 1) {
          ++activeRecord_;
        } else {
          // A full ring drops its first record and the active one stays last.
          const bool full = recordCount_ >= bufferCount_;
          if (!GetNextRecord()) {
            eof_ = true;
            break;
          }
          if (full)
            --scrollCount;
          else
            activeRecord_ = recordCount_ - 1;
        }
        --Distance;
        ++moved;
      }
      while (Distance < 0) {
        if (activeRecord_ > 0) {
          --activeRecord_;
        } else {
          const bool full = recordCount_ >= bufferCount_;
          if (!GetPriorRecord()) {
            bof_ = true;
            break;
          }
          if (full)
            ++scrollCount;
          else
            activeRecord_ = 0;
        }
        ++Distance;
        --moved;
      }
    }
    if (recordCount_ != oldRecordCount)
      DataEvent(deDataSetChange, 0);
    else
      DataEvent(deDataSetScroll, scrollCount);
    DoAfterScroll();
  }
  return moved;
}

}  // namespace plat
