#include "tessera/pickle.h"

#include <cstdio>
#include <stdexcept>

namespace ko::tessera {
namespace {

[[noreturn]] void refuse(const std::string& what) {
  throw std::runtime_error("teeth: " + what);
}

class Interpreter {
 public:
  explicit Interpreter(std::string_view data) : data_(data) {}

  std::vector<NamedTensor> run() {
    while (at_ < data_.size()) {
      if (!step(static_cast<uint8_t>(data_[at_++]))) break;
    }
    return std::move(tensors_);
  }

 private:
  bool step(uint8_t op);

  std::string_view take(size_t n) {
    if (n > data_.size() - at_) refuse("pickle truncated");
    const std::string_view bytes = data_.substr(at_, n);
    at_ += n;
    return bytes;
  }
  uint32_t unsignedLE(size_t n) {
    const std::string_view bytes = take(n);
    uint32_t value = 0;
    for (size_t k = 0; k < n; ++k) value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[k])) << (8 * k);
    return value;
  }
  int32_t signed32() { return static_cast<int32_t>(unsignedLE(4)); }
  std::string line() {
    const size_t end = data_.find('\n', at_);
    if (end == std::string_view::npos) refuse("pickle truncated");
    std::string text(data_.substr(at_, end - at_));
    at_ = end + 1;
    return text;
  }

  void push(PVal value) { stack_.push_back(std::move(value)); }
  PVal pop() {
    if (stack_.empty()) refuse("pickle pops a value it never pushed");
    PVal value = std::move(stack_.back());
    stack_.pop_back();
    return value;
  }
  size_t popMark() {
    if (marks_.empty()) refuse("pickle closes a MARK it never opened");
    const size_t mark = marks_.back();
    marks_.pop_back();
    if (mark > stack_.size()) refuse("pickle closes a MARK whose values were already taken");
    return mark;
  }

  PVal tupleOf(std::vector<PVal> values) {
    PVal tuple;
    tuple.kind = PVal::Tuple;
    for (const PVal& value : values) tuple.depth = std::max(tuple.depth, value.depth + 1);
    if (tuple.depth > kMaxPickleNesting) refuse("pickle nests tuples too deeply");
    tuple.items = std::make_shared<const std::vector<PVal>>(std::move(values));
    return tuple;
  }
  void tupleFromTop(size_t n) {
    if (stack_.size() < n) refuse("pickle pops a value it never pushed");
    std::vector<PVal> values(std::make_move_iterator(stack_.end() - static_cast<std::ptrdiff_t>(n)),
                             std::make_move_iterator(stack_.end()));
    stack_.resize(stack_.size() - n);
    push(tupleOf(std::move(values)));
  }

  void memoPut(int64_t index) {
    if (index < 0) refuse("pickle LONG_BINPUT index is negative");
    // Every put costs at least two bytes of pickle, so no honest memo outgrows the pickle itself.
    if (static_cast<uint64_t>(index) > data_.size()) refuse("pickle memo index exceeds the pickle");
    if (static_cast<size_t>(index) >= memo_.size()) memo_.resize(static_cast<size_t>(index) + 1);
    if (!stack_.empty()) memo_[static_cast<size_t>(index)] = stack_.back();
  }
  void memoGet(int64_t index, const char* opcode) {
    if (index < 0 || static_cast<size_t>(index) >= memo_.size()) {
      refuse(std::string("pickle ") + opcode + " out of range");
    }
    push(memo_[static_cast<size_t>(index)]);
  }

  void setItem(const PVal& key, PVal value) {
    if (key.kind == PVal::String && value.kind == PVal::Tensor)
      tensors_.emplace_back(key.s, std::move(value));
  }
  void persistentId();
  void reduce();

  std::string_view data_;
  size_t at_ = 0;
  std::vector<PVal> stack_;
  std::vector<size_t> marks_;
  std::vector<PVal> memo_;
  std::vector<NamedTensor> tensors_;
};

void Interpreter::persistentId() {
  const PVal id = pop();
  if (id.kind != PVal::Tuple || id.size() < 5 || id.item(0).kind != PVal::String ||
      id.item(0).s != "storage") {
    refuse("unexpected persistent id in head .pt");
  }
  if (id.item(1).kind != PVal::Global || id.item(1).s != "torch FloatStorage") {
    refuse("head .pt storage is " + id.item(1).s +
           ", not torch FloatStorage \xe2\x80\x94 refusing to reinterpret it");
  }
  PVal storage;
  storage.kind = PVal::Storage;
  storage.s = id.item(2).s;
  push(std::move(storage));
}

void Interpreter::reduce() {
  const PVal args = pop();
  const PVal callable = pop();
  PVal result;
  if (callable.s == "torch._utils _rebuild_tensor_v2") {
    if (args.size() < 4) refuse("malformed _rebuild_tensor_v2");
    result.kind = PVal::Tensor;
    result.key = args.item(0).s;
    result.offset = args.item(1).i;
    for (size_t k = 0; k < args.item(2).size(); ++k) result.shape.push_back(args.item(2).item(k).i);
  } else if (callable.s == "collections OrderedDict") {
    result.kind = PVal::Dict;
  } else {
    refuse("head .pt calls " + callable.s + " \xe2\x80\x94 this reader refuses code it does not model");
  }
  push(std::move(result));
}

bool Interpreter::step(uint8_t op) {
  PVal value;
  switch (op) {
    case 0x80:
      take(1);
      break;  // PROTO
    case 0x28:
      marks_.push_back(stack_.size());
      break;  // MARK
    case 0x29:
      push(tupleOf({}));
      break;  // EMPTY_TUPLE
    case 0x74:
      tupleFromTop(stack_.size() - popMark());
      break;  // TUPLE
    case 0x85:
      tupleFromTop(1);
      break;
    case 0x86:
      tupleFromTop(2);
      break;
    case 0x87:
      tupleFromTop(3);
      break;
    case 0x7D:
      value.kind = PVal::Dict;
      push(std::move(value));
      break;  // EMPTY_DICT
    case 0x4A:
      value.kind = PVal::Integer;
      value.i = signed32();
      push(std::move(value));
      break;
    case 0x4B:
      value.kind = PVal::Integer;
      value.i = unsignedLE(1);
      push(std::move(value));
      break;
    case 0x4D:
      value.kind = PVal::Integer;
      value.i = unsignedLE(2);
      push(std::move(value));
      break;
    case 0x4E:
      push(std::move(value));
      break;  // NONE
    case 0x88:
    case 0x89:
      value.kind = PVal::Boolean;
      value.i = op == 0x88;
      push(std::move(value));
      break;
    case 0x58:
      value.kind = PVal::String;
      value.s = std::string(take(unsignedLE(4)));
      push(std::move(value));
      break;
    case 0x63: {  // GLOBAL
      value.kind = PVal::Global;
      const std::string module = line();
      value.s = module + " " + line();
      push(std::move(value));
      break;
    }
    case 0x71:
      memoPut(unsignedLE(1));
      break;  // BINPUT
    case 0x72:
      memoPut(signed32());
      break;  // LONG_BINPUT
    case 0x68:
      memoGet(unsignedLE(1), "BINGET");
      break;
    case 0x6A:
      memoGet(signed32(), "LONG_BINGET");
      break;
    case 0x51:
      persistentId();
      break;  // BINPERSID
    case 0x52:
      reduce();
      break;      // REDUCE
    case 0x73: {  // SETITEM
      PVal item = pop();
      const PVal key = pop();
      setItem(key, std::move(item));
      break;
    }
    case 0x75: {  // SETITEMS
      const size_t mark = popMark();
      for (size_t k = mark; k + 1 < stack_.size(); k += 2) setItem(stack_[k], stack_[k + 1]);
      stack_.resize(mark);
      break;
    }
    case 0x62:
      break;  // BUILD: the state is not modelled
    case 0x2E:
      return false;  // STOP
    default: {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", op);
      refuse(std::string("unsupported pickle opcode 0x") + hex + " in head .pt");
    }
  }
  return true;
}

}  // namespace

std::vector<NamedTensor> readStateDictPickle(std::string_view pickle) {
  return Interpreter(pickle).run();
}

}  // namespace ko::tessera
