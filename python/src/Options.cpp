#include "Options.h"

#include <functional>
#include <map>
#include <string>

namespace clusterpy {
namespace {

using Setter = std::function<void(clusterwalk::JobOptions&, double)>;

const std::map<std::string, Setter>& Setters() {
    static const std::map<std::string, Setter> setters{
        {"first_delay", [](auto& o, double v) { o.retry.firstDelaySeconds = v; }},
        {"max_delay", [](auto& o, double v) { o.retry.maxDelaySeconds = v; }},
        {"max_attempts", [](auto& o, double v) { o.retry.maxAttempts = static_cast<int>(v); }},
        {"request_budget", [](auto& o, double v) { o.retry.requestBudgetSeconds = v; }},
        {"budget_capacity", [](auto& o, double v) { o.retry.budgetCapacity = v; }},
        {"budget_refill", [](auto& o, double v) { o.retry.budgetRefillPerSecond = v; }},
        {"budget_credit", [](auto& o, double v) { o.retry.budgetCreditPerSuccess = v; }},
        {"rate", [](auto& o, double v) { o.rate.requestsPerSecond = v; }},
        {"in_flight", [](auto& o, double v) { o.rate.maxInFlight = static_cast<int>(v); }},
        {"burst", [](auto& o, double v) { o.rate.burst = v; }},
    };
    return setters;
}

// Whole-number options; the others take fractions.
bool IsCount(const std::string& name) {
    return name == "max_attempts" || name == "in_flight";
}

double NumberOf(const std::string& name, const py::handle& value) {
    const bool isBool = PyBool_Check(value.ptr());
    const bool isInt = PyLong_Check(value.ptr()) && !isBool;
    if (isBool || !(isInt || (PyFloat_Check(value.ptr()) && !IsCount(name)))) {
        throw py::type_error(name + (IsCount(name) ? " must be an int" : " must be a number"));
    }
    const double number = PyFloat_AsDouble(value.ptr());
    if (number == -1.0 && PyErr_Occurred() != nullptr) {  // an int too big for a double
        PyErr_Clear();
        throw py::value_error(name + " out of range");
    }
    // Also refuses NaN, which no comparison admits.
    const double least = name == "max_attempts" ? 1 : 0;
    if (!(number >= least) || number > 1e9) {
        throw py::value_error(name + " out of range");
    }
    return number;
}

}  // namespace

clusterwalk::JobOptions JobOptionsFrom(const py::kwargs& options) {
    clusterwalk::JobOptions job;
    for (const auto& item : options) {
        const std::string name = py::str(item.first);
        const auto setter = Setters().find(name);
        if (setter == Setters().end()) {
            throw py::type_error("Session() got an unexpected keyword argument '" + name + "'");
        }
        setter->second(job, NumberOf(name, item.second));
    }
    return job;
}

}  // namespace clusterpy
