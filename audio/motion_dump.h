// The motion stream's intermediate arrays, written as raw floats into the directory KO_MOTION_DUMP
// names, for comparing a bundle's behaviour with its exporter's. Off when the variable is unset or
// empty. A file that cannot be written is reported once on stderr and the stream carries on.
#pragma once

#include <cstddef>
#include <string>

namespace ko::motion {

class MotionDump {
 public:
  // Reads KO_MOTION_DUMP and empties the files that frames and chunks are appended to.
  MotionDump();

  bool on() const { return !dir_.empty(); }
  // Replaces dir/name with the values.
  void write(const char* name, const float* values, size_t count);
  // Adds the values at the end of dir/name.
  void append(const char* name, const float* values, size_t count);

 private:
  void put(const char* name, const char* mode, const float* values, size_t count);

  std::string dir_;
  bool warned_ = false;
};

}  // namespace ko::motion
