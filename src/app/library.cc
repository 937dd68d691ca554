#include "app/library.h"

#include <fmt/format.h>

#include "app/batch.h"
#include "app/case_line.h"
#include "app/records.h"
#include "engine/grouper.h"

namespace tallow::app {

LineGrouper::LineGrouper(std::shared_ptr<const TableSet> tables)
    : grouper_(std::make_unique<Grouper>(std::move(tables))),
      line_(std::make_unique<CaseLine>()) {
  BindRequest(request_, *line_);
  grouper_->SetCaseFields(line_->data() + kCaseIdentifierPos, line_->data() + kCaseDatePos,
                          line_->data() + kSurgeryModifiersPos);
}

LineGrouper::~LineGrouper() = default;

void LineGrouper::GroupToJson(int64_t lineNumber, const char* text, std::size_t length,
                              std::string* record) {
  if (length > 0 && text[length - 1] == '\n') {
    --length;
    if (length > 0 && text[length - 1] == '\r') --length;
  }
  fmt::memory_buffer out;
  // The record the batch writes for the same line.
  CaseRecord r;
  r.line = lineNumber;
  std::string error;
  if (length < static_cast<std::size_t>(kGroupedLineMinimum)) {
    error = ShortLineError(length).text();
    r.fields = text;
    r.length = length;
    r.error = error;
  } else {
    line_->Assign(text, length, false);
    PrepareRequest(request_, *line_);
    constexpr int kFlags = GroupFlagDecide | GroupFlagFinalise;
    const int result = grouper_->GroupCase(request_, kFlags);
    r.fields = line_->data();
    r.length = static_cast<std::size_t>(kResultsEnd);
    if (result == 0) {
      StoreResults(request_, kFlags, *line_);
      StoreLevels(grouper_->state().diagnosisLevels.data(), *line_);
      r.request = &request_;
      r.levels = grouper_->state().diagnosisLevels.data();
    } else {
      r.error = result == -2 ? "the tables are not loaded" : "code preparation failed";
    }
  }
  AppendRecord(out, RecordFormat::kJsonl, r, false);
  out.resize(out.size() - 1);  // the record's line end
  record->assign(out.data(), out.size());
}

}  // namespace tallow::app
