// The driver's classes, created by the module body in its order.
#pragma once

#include "support/class_builder.hpp"

namespace zel {

py::object make_etc(const Globals &g);
py::object make_zel_const(const Globals &g);
py::object make_zel(const Globals &g);

// The methods of ZEL, one file each, added in the order of the class body.
void add_fatal_msg(ClassBuilder &zel);      // internal error report
void add_module_command(ClassBuilder &zel); // command mode
void add_self_check(ClassBuilder &zel);     // the command mode's self-check
void add_cuda_reports(ClassBuilder &zel);   // the command mode's CUDA reports
void add_prepare_path(ClassBuilder &zel);   // built-module naming and rebuild decision
void add_build_record(ClassBuilder &zel);   // the record of what a build was made from
void add_unparse(ClassBuilder &zel);        // .pyx text and line map
void add_compile(ClassBuilder &zel);        // compile pipeline
void add_run(ClassBuilder &zel);            // running the built module

} // namespace zel
