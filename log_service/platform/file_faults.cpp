#include "platform/file_faults.h"

#include <atomic>
#include <mutex>

namespace {

struct FaultGate {
  std::atomic<bool> m_bActive{false};  // a plan is set; read on every call
  std::mutex m_mutex;                  // guards the rest
  CFileFaultPlan m_plan;               // what to fail
  int64_t m_nCalls = 0;                // calls counted under the plan
  int64_t m_nFaults = 0;               // calls failed under the plan
};

FaultGate& GetFaultGate() {
  static FaultGate s_gate;
  return s_gate;
}

}  // namespace

bool CountFileCallForFaults(CFileFaultPlan& failing) {
  FaultGate& gate = GetFaultGate();
  if (!gate.m_bActive.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> lock(gate.m_mutex);
  const int64_t nCall = ++gate.m_nCalls;
  const CFileFaultPlan& plan = gate.m_plan;
  const bool bFails = plan.m_nFailAt > 0 && (nCall == plan.m_nFailAt || (plan.m_bPersistent && nCall > plan.m_nFailAt));
  if (!bFails) return false;
  ++gate.m_nFaults;
  failing = plan;
  return true;
}

void SetFileFaultsForTesting(const CFileFaultPlan& plan) {
  FaultGate& gate = GetFaultGate();
  std::lock_guard<std::mutex> lock(gate.m_mutex);
  gate.m_plan = plan;
  gate.m_nCalls = 0;
  gate.m_nFaults = 0;
  gate.m_bActive.store(true, std::memory_order_release);
}

void ResetFileFaultsForTesting() {
  FaultGate& gate = GetFaultGate();
  std::lock_guard<std::mutex> lock(gate.m_mutex);
  gate.m_bActive.store(false, std::memory_order_release);
  gate.m_plan = CFileFaultPlan{};
  gate.m_nCalls = 0;
  gate.m_nFaults = 0;
}

int64_t CountFileCallsForTesting() {
  FaultGate& gate = GetFaultGate();
  std::lock_guard<std::mutex> lock(gate.m_mutex);
  return gate.m_nCalls;
}

int64_t CountFileFaultsForTesting() {
  FaultGate& gate = GetFaultGate();
  std::lock_guard<std::mutex> lock(gate.m_mutex);
  return gate.m_nFaults;
}
