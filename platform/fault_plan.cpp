#include "platform/fault_plan.h"

namespace ravoth {

namespace {

thread_local FaultPlan* heldPlan = nullptr;

}  // namespace

FaultPlan* currentFaultPlan() { return heldPlan; }

FaultScope::FaultScope(FaultPlan* plan) : previous_(heldPlan) { heldPlan = plan; }

FaultScope::~FaultScope() { heldPlan = previous_; }

}  // namespace ravoth
