// Projection loops: `for t in zel.projection(i, ..., n)` does not run its statements in the
// order written. Each statement records which names it writes and which it reads at the
// current step, at t minus an offset or at t plus an offset; ZELProjection orders the
// statements by those dependencies and cuts the order into groups, and the loop becomes an
// `if True:` holding one plain range loop per group, counting down for the groups that read
// ahead of the loop variable.
#include "restructure/projection_references.hpp"
#include "restructure/restructure_classes.hpp"
#include "support/pyast.hpp"
#include "support/script_fault.hpp"

#include <string>

namespace zel {
namespace {

// zel.projection(...) becomes range(...): the callee's object part is renamed, so the call
// keeps its place and its arguments. A callee bound by a from-import is renamed itself.
void call_range_instead(const py::object &call) {
    py::object func = call.attr("func");
    py::object callee = is_a(func, "Attribute") ? py::object(func.attr("value")) : func;
    set_class(callee, "Name");
    callee.attr("id") = py::str("range");
    call.attr("func") = callee;
}

// Sorts the names of each body statement into what it writes and what it reads at which
// offset; a name both read and written counts as written. The loop variable is no dependency.
void record_references(const py::object &cls, const py::object &body, const py::object &var,
                       const py::object &lineno) {
    py::str written("w"), read("r"), behind("-"), ahead("+");
    for (py::handle statement : body) {
        py::list assign, ref, ref1, ref2;
        statement.attr("_assign") = assign;
        statement.attr("_ref") = ref;
        statement.attr("_ref1") = ref1;
        statement.attr("_ref2") = ref2;
        statement.attr("_name") = py::none();
        for (py::handle entry : cls.attr("make_global_ref_list")(statement)) {
            py::object name = entry[py::int_(0)];
            if (equals(name, var))
                continue;
            py::object mode = entry[py::int_(1)];
            if (mode.contains(written)) {
                assign.append(name);
            } else if (mode.contains(read)) {
                py::object mark = entry[py::int_(4)];
                if (equals(mark, behind))
                    ref1.append(name);
                else if (equals(mark, ahead))
                    ref2.append(name);
                else
                    ref.append(name);
            } else {
                script_fault("[Fatal.2600] `" + text_of(name) + "`, line " + text_of(lineno));
            }
        }
    }
}

// A group that reads ahead of the loop variable counts down.
bool reads_ahead(py::handle group) {
    for (py::handle statement : group)
        if (py::len(statement.attr("_ref2")) > 0)
            return true;
    return false;
}

void reform_Projection(const Globals &g, py::object cls, py::object node, py::object ci) {
    py::object target = node.attr("target");
    py::object lineno = node.attr("lineno");
    if (!is_a(target, "Name"))
        script_fault("ZEL.projection의 색인 변수는 단일 변수를 사용해야 합니다. `" +
                     unparse(target) + "` line " + text_of(lineno));

    py::object forward = node.attr("iter");
    call_range_instead(forward);
    py::object count = forward.attr("args")[py::int_(-1)];
    py::dict proj;
    proj["var"] = target;
    proj["args"] = forward.attr("args");
    proj["range"] = count;
    if (py::len(forward.attr("args")) > 1) {
        py::list only_count;
        only_count.append(count);
        forward.attr("args") = only_count;
    }
    // The body's arrays get the projection's indices and their slice marks here.
    py::object block = cls.attr("BlockInfo")(node, ci).attr("set_proj")(proj);
    cls.attr("reform_Stmt")(node.attr("body"), block);
    record_references(cls, node.attr("body"), target.attr("id"), lineno);

    py::object groups = g["ZELProjection"].attr("sort_and_group_s")(node.attr("body"));
    if (!PyList_Check(groups.ptr()) || py::len(groups) == 0)
        script_fault("[Error.2670] No statement found in projection block.");

    set_class(node, "If");
    node.attr("test") = g["ast"].attr("Constant")(true);
    py::list loops;
    node.attr("body") = loops;
    py::object backward = g["ZELProjection"].attr("partial")("range(x-1,-1,-1)");
    backward.attr("args")[py::int_(0)].attr("left") = count;
    py::object for_class = g["ast"].attr("For");
    for (py::handle group : groups) {
        py::object iter = reads_ahead(group) ? backward : forward;
        py::object loop =
            for_class(py::arg("target") = target, py::arg("iter") = iter, py::arg("body") = group,
                      py::arg("orelse") = py::list(), py::arg("type_comment") = py::none());
        loop.attr("lineno") = lineno;
        loops.append(loop);
    }
    // The loop's else clause runs once the loops are done, as after a loop that ends without
    // break; as the else clause of `if True:` it would never run.
    loops.attr("extend")(node.attr("orelse"));
    node.attr("orelse") = py::list();
}

// The slice mark of a view index inside a projection loop: "T" for the loop variable,
// "-" or "+" for the variable minus or plus something, else None.
py::object check_time_slice(py::object cls, py::object node, py::object ci) {
    py::object proj = ci.attr("get_attr")(cls.attr("pidx"));
    if (proj.is_none())
        return py::none();
    py::object v = proj["var"].attr("id");
    if (is_a(node, "BinOp")) {
        py::object left = node.attr("left");
        if (!is_a(left, "Name") || !equals(left.attr("id"), v))
            return py::none();
        if (is_a(node.attr("op"), "Sub"))
            return py::str("-");
        if (is_a(node.attr("op"), "Add"))
            return py::str("+");
        return py::none();
    }
    if (is_a(node, "Name") && equals(node.attr("id"), v))
        return py::str("T");
    return py::none();
}

} // namespace

void add_projection_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Projection", reform_Projection, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
    zel_ast.classmethod("check_time_slice", check_time_slice, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
    add_reference_walk(zel_ast);
}

} // namespace zel
