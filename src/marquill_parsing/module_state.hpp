// The module's state, made once per module (and so once per interpreter)
// by its exec step in module.cpp and read by each function's binding.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstdint>

#include "parser/kernel.hpp"
#include "parser/keywords.hpp"

namespace marquill_binding {

// What every call needs: the kinds it hands out, the whole pair of each fixed tag,
// and the kernel that scans.
struct ModuleState {
    PyObject* kinds[marquill::kindCount];           // one bytes object for each letter of marquill::kinds
    PyObject* fixedPairs[marquill::fixedTagCount];  // in the order of fixedTags
    PyObject* parsedColumnType;                     // what parse_column returns
    const marquill::Kernel* kernel;                 // set last: the state is ready once it is
};

// The slot in ModuleState::kinds of each kind letter, by its low five bits,
// which differ for every lowercase letter (keywords.hpp checks that the kinds
// are lowercase).
constexpr std::array<int8_t, 32> kindSlots = [] {
    std::array<int8_t, 32> slots{};
    for (int8_t& slot : slots) slot = -1;
    for (int k = 0; k < marquill::kindCount; ++k) slots[marquill::kinds[k] & 31] = static_cast<int8_t>(k);
    return slots;
}();
static_assert(
    [] {
        for (int k = 0; k < marquill::kindCount; ++k) {
            if (kindSlots[marquill::kinds[k] & 31] != k) return false;
        }
        return true;
    }(),
    "two kinds share a slot of kindSlots");

// The state of a module whose exec step has filled it, or NULL with
// SystemError set. A module made but not executed, as
// importlib.util.module_from_spec leaves it, has no state yet or one of NULL
// pointers; exec sets the kernel last.
inline const ModuleState* ready_state_of(PyObject* module) {
    const auto* state = static_cast<const ModuleState*>(PyModule_GetState(module));
    if (state == nullptr || state->kernel == nullptr) {
        PyErr_SetString(PyExc_SystemError,
                        "marquill_parsing: the module was not initialised (its exec step has not run)");
        return nullptr;
    }
    return state;
}

}  // namespace marquill_binding
