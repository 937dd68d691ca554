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
  grouper_->BindCodes(&request_);
  grouper_->SetCaseFields(line_->data() + kCaseIdentifierPos, line_->data() + kCaseDatePos,
                          line_->data() + kSurgeryModifiersPos);
}

LineGrouper::~LineGrouper() = default;

void LineGrouper::GroupToJson(int64_t lineNumber, const char* text, std::size_t length,
                              std::string* record) {
  fmt::memory_buffer out;
  AppendJson(lineNumber, text, length, Extras{}, out);
  record->assign(out.data(), out.size());
}

void LineGrouper::AppendJson(int64_t lineNumber, const char* text, std::size_t length,
                             Extras extras, fmt::memory_buffer& out) {
  if (length > 0 && text[length - 1] == '\n') {
    --length;
    if (length > 0 && text[length - 1] == '\r') --length;
  }
  // The record the batch writes for the same line.
  CaseRecord r;
  r.line = lineNumber;
  r.withFlags = extras.flags;
  std::string reason;
  if (length < static_cast<std::size_t>(kGroupedLineMinimum)) {
    const ShortLineError error(length);
    r.fields = text;
    r.length = length;
    r.error = error.text();
    AppendRecord(out, RecordFormat::kJsonl, r, extras.reason);
  } else {
    line_->Assign(text, length, false);
    PrepareRequest(request_, *line_);
    grouper_->SetTrace(extras.reason ? &reasons_ : nullptr);
    if (extras.reason) reasons_.Clear();
    constexpr int kFlags = GroupFlagDecide | GroupFlagFinalise;
    const int result = grouper_->GroupCase(request_, kFlags);
    r.fields = line_->data();
    r.length = static_cast<std::size_t>(kResultsEnd);
    if (result == 0) {
      StoreResults(request_, kFlags, *line_);
      StoreLevels(grouper_->state().diagnosisLevels.data(), *line_);
      r.request = &request_;
      r.levels = grouper_->state().diagnosisLevels.data();
      if (extras.reason) reason = reasons_.Reason(request_.mdc, request_.groupCode);
      if (extras.flags) r.flags = DataFlagsOf(line_->data(), grouper_->state());
      r.reason = reason;
    } else {
      r.error = result == -2 ? "the tables are not loaded" : "code preparation failed";
    }
    AppendRecord(out, RecordFormat::kJsonl, r, extras.reason);
  }
  out.resize(out.size() - 1);  // the record's line end
}

}  // namespace tallow::app
