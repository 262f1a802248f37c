// A test hook set for one scope: the setter installs the replacement, and the
// function it returns (the one that was there) is put back when the scope ends,
// however it ends (a failed ASSERT returns early).
#pragma once

namespace roderavo_test {

template <typename Hook>
class HookGuard {
  public:
    using Setter = Hook (*)(Hook);
    HookGuard(Setter set, Hook replacement) : set_(set), previous_(set(replacement)) {}
    ~HookGuard() { set_(previous_); }
    HookGuard(const HookGuard&) = delete;
    HookGuard& operator=(const HookGuard&) = delete;

  private:
    Setter set_;
    Hook previous_;
};

}  // namespace roderavo_test
