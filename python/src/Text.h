// Text and times between the cluster's bytes and Python objects. Names from the cluster need
// not be UTF-8: bytes that are not become lone surrogates (as os.fsdecode makes them), so a
// path read from a listing goes back to the cluster byte for byte.
#pragma once

#include <pybind11/pybind11.h>

#include <ctime>
#include <string>

namespace clusterpy {

namespace py = pybind11;

py::str ToText(const std::string& bytes);
// A str argument as the cluster's bytes; TypeError for anything else.
std::string FromText(const py::handle& text, const char* argument);
// A password or other secret argument: read from the str's own UTF-8 form, so that no other
// copy is left in Python's memory; TypeError for anything but a str.
std::string SecretFromText(const py::handle& text, const char* argument);
// A UTC datetime; None when the time lies outside what datetime can hold (years 1 to 9999).
py::object ToUtcTime(time_t time);

}  // namespace clusterpy
