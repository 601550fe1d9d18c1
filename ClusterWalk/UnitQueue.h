// The units a tree walk has found but not yet started. A tree of millions of directories can
// find them far faster than it lists them, so the walker's own queue keeps a bounded number in
// memory and spills the rest to an unnamed temporary file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>

#include "ClusterWalk/ClusterWalkExport.h"
#include "ClusterWalk/WalkUnit.h"

namespace clusterwalk {

// Only the walker calls it, under its own lock, so an implementation need not be thread-safe.
class CLUSTERWALK_API CUnitQueue {
  public:
    virtual ~CUnitQueue();
    // Throws (std::bad_alloc, std::runtime_error) when the unit cannot be kept.
    virtual void Push(WalkUnit unit) = 0;
    // False when empty. Throws as Push does.
    virtual bool Pop(WalkUnit& unit) = 0;
    virtual bool Empty() const = 0;
    virtual size_t Size() const = 0;
    // Every unit queued, in no defined order, for a checkpoint. Throws as Push does.
    virtual void ForEach(const std::function<void(const WalkUnit&)>& visit) const = 0;
};

// Last in, first out in memory, so the walk goes deep first and the queue holds about one
// level's siblings per level; beyond `memoryUnits` the oldest half goes to the file, which is
// read back, oldest first, once memory runs empty. Exported whole, so its type information
// reaches programs that check dynamic types (UBSan's vptr check).
class CLUSTERWALK_API CSpillingUnitQueue : public CUnitQueue {
  public:
    static constexpr size_t kDefaultMemoryUnits = 50000;

    // `directory` empty: $TMPDIR, else /tmp.
    explicit CSpillingUnitQueue(size_t memoryUnits = kDefaultMemoryUnits,
                                std::string directory = std::string());
    ~CSpillingUnitQueue() override;
    CSpillingUnitQueue(const CSpillingUnitQueue&) = delete;
    CSpillingUnitQueue& operator=(const CSpillingUnitQueue&) = delete;

    void Push(WalkUnit unit) override;
    bool Pop(WalkUnit& unit) override;
    bool Empty() const override;
    size_t Size() const override { return m_units.size() + m_spilled; }
    void ForEach(const std::function<void(const WalkUnit&)>& visit) const override;

    // How many units wait in the file: for tests and progress.
    size_t Spilled() const { return m_spilled; }

  private:
    CLUSTERWALK_INTERNAL void Spill();
    CLUSTERWALK_INTERNAL void ReadBack();
    CLUSTERWALK_INTERNAL void OpenFile();

    const size_t m_memoryUnits;
    const std::string m_directory;
    std::deque<WalkUnit> m_units;
    std::FILE* m_file = nullptr;
    long m_readOffset = 0;  // where the oldest unit not yet read back starts
    size_t m_spilled = 0;
};

}  // namespace clusterwalk
