#include "src/lib/value_stream.hpp"

namespace quarnel {

void TargetMap::add(vcd::IdCode code, std::uint32_t request) {
  std::size_t slot = slots_.size();
  if (code.value < kFlatLimit) {
    if (code.value >= flat_.size()) flat_.resize(code.value + 1, -1);
    if (flat_[code.value] < 0) {
      flat_[code.value] = static_cast<std::int32_t>(slot);
      slots_.emplace_back();
    } else {
      slot = static_cast<std::size_t>(flat_[code.value]);
    }
  } else {
    const auto [it, inserted] = sparse_.try_emplace(code, slot);
    if (inserted) {
      slots_.emplace_back();
    } else {
      slot = it->second;
    }
  }
  slots_[slot].push_back(request);
}

TargetRequest build_target_map(const HeaderInfo& header, const std::vector<std::string>& names) {
  TargetRequest request;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (const Signal* signal = header.find(names[i])) {
      request.targets.add(signal->id_code, static_cast<std::uint32_t>(i));
    } else {
      request.missing.push_back(names[i]);
    }
  }
  return request;
}

std::string join_names(const std::vector<std::string_view>& names) {
  std::string joined;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) joined += ", ";
    joined += names[i];
  }
  return joined;
}

Result<TimeValueIter> open_value_stream(const std::string& path, std::uint64_t body_offset,
                                        const std::vector<std::string>& names, TargetMap targets,
                                        std::optional<std::uint64_t> start,
                                        std::optional<std::uint64_t> end) {
  auto file = vcd::File::open_read(path);
  if (!file) return std::unexpected(VcdError::io(file.error()));
  if (auto seek = file->seek(body_offset); !seek) return std::unexpected(VcdError::io(seek.error()));
  return TimeValueIter(std::move(*file), names, std::move(targets), start, end);
}

TimeValue TimeValueIter::take_pending() {
  const std::uint32_t request = (*pending_)[pending_pos_++];
  TimeValue record{(*names_)[request], request, current_time_, {}};
  if (pending_pos_ == pending_->size()) {
    record.value = std::move(pending_value_);
    pending_ = nullptr;
  } else {
    record.value = pending_value_;
  }
  return record;
}

Result<std::optional<TimeValue>> TimeValueIter::next() {
  if (pending_ != nullptr) return take_pending();
  if (done_) return std::nullopt;
  for (;;) {
    auto command = parser_.next();
    if (!command) return std::unexpected(VcdError::io(command.error()));
    if (!*command) {
      done_ = true;
      return std::nullopt;
    }
    const vcd::Command& c = **command;
    const std::vector<std::uint32_t>* requests = nullptr;
    if (const auto* scalar = std::get_if<vcd::cmd::ScalarChange>(&c)) {
      requests = targets_.find(scalar->id_code);
      if (requests == nullptr || (start_ && current_time_ < *start_)) continue;
      pending_value_ = scalar_change_value(scalar->value);
    } else if (const auto* vector = std::get_if<vcd::cmd::VectorChange>(&c)) {
      requests = targets_.find(vector->id_code);
      if (requests == nullptr || (start_ && current_time_ < *start_)) continue;
      pending_value_ = vector_change_value(vector->vector);
    } else if (const auto* real = std::get_if<vcd::cmd::RealChange>(&c)) {
      requests = targets_.find(real->id_code);
      if (requests == nullptr || (start_ && current_time_ < *start_)) continue;
      pending_value_ = ChangeValue{real->value};
    } else if (const auto* text = std::get_if<vcd::cmd::StringChange>(&c)) {
      requests = targets_.find(text->id_code);
      if (requests == nullptr || (start_ && current_time_ < *start_)) continue;
      pending_value_ = ChangeValue{std::string(text->text)};
    } else if (const auto* stamp = std::get_if<vcd::cmd::Timestamp>(&c)) {
      current_time_ = stamp->time;
      if (end_ && current_time_ > *end_) {
        done_ = true;
        return std::nullopt;
      }
      continue;
    } else {
      continue;
    }
    pending_ = requests;
    pending_pos_ = 0;
    return take_pending();
  }
}

}  // namespace quarnel
