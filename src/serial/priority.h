// Process priority around the time-critical exchanges (the line-rate switch, each record of the
// direct upload, each RF frame copy with its echo window).
#pragma once

namespace tvx::serial {

class Priority {
 public:
  virtual ~Priority() = default;
  /// Raises the process to the highest class the platform grants without privileges
  /// (best-effort, never fails visibly).
  virtual void RaiseRealtime() = 0;
  /// Back to the normal class.
  virtual void Normal() = 0;
};

/// A Priority that does nothing (tests, benchmarks).
class NoPriority final : public Priority {
 public:
  void RaiseRealtime() override {}
  void Normal() override {}
};

}  // namespace tvx::serial
