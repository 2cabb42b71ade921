#pragma once
// One automation object's IDispatch, read the way a framework dispatch driver
// reads it: every automation failure is thrown, never returned.

struct IDispatch;

namespace kelvane {

class DispatchError {
public:
    explicit DispatchError(long hr) : m_hr(hr) {}
    long Result() const { return m_hr; }

private:
    long m_hr;
};

class DispatchDriver {
public:
    DispatchDriver() = default;
    DispatchDriver(const DispatchDriver&) = delete;
    DispatchDriver& operator=(const DispatchDriver&) = delete;
    ~DispatchDriver() { ReleaseDispatch(); }

    // Takes over the caller's reference; one already held is released first.
    void AttachDispatch(IDispatch* dispatch);
    // Lets go of the object without releasing it.
    IDispatch* DetachDispatch();
    void ReleaseDispatch();
    IDispatch* Object() const { return m_dispatch; }

    // Property get of `dispid`, converted to VT_R8; a value that does not
    // convert is a failure like any other.
    double GetPropertyR8(long dispid) const;

private:
    IDispatch* m_dispatch = nullptr;
};

}  // namespace kelvane
