// Projection loops: `for t in zel.projection(i, ..., n)` does not run its statements in the
// order written. Each statement records which names it writes, which of them at t minus or plus
// an offset or at any step, and which it reads at the current step, at t minus an offset, at t
// plus an offset or at any step; ZELProjection orders the statements by those dependencies and
// cuts the order into groups, and the loop becomes an `if True:` holding one plain range loop
// per group, counting down for the groups that read ahead of the loop variable. A counting-up
// loop whose indices the range test bounds runs without per-access checks when they are all
// in range, and as written otherwise, so an index out of range raises where it did.
#include "restructure/generated_names.hpp"
#include "restructure/projection_references.hpp"
#include "restructure/range_test.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/tags.hpp"
#include "support/pyast.hpp"
#include "support/script_fault.hpp"

#include <string>
#include <utility>
#include <vector>

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

// Appends `name` to `behind`, `ahead` and `anywhere` as the slice mark `mark` holds "-", "+"
// and "*"; returns whether it went to any of them.
bool sort_by_mark(const py::object &name, const py::object &mark, const py::list &behind,
                  const py::list &ahead, const py::list &anywhere) {
    if (!truthy(mark))
        return false;
    std::pair<const char *, py::list> lists[] = {{"-", behind}, {"+", ahead}, {"*", anywhere}};
    bool sorted = false;
    for (auto &[letter, names] : lists) {
        if (mark.contains(py::str(letter))) {
            names.append(name);
            sorted = true;
        }
    }
    return sorted;
}

// Appends to `behind` the names of `written` that `statement` reads (through subscripts it does
// not assign to) behind the loop variable.
void own_reads_behind(const py::object &cls, py::handle statement, const py::list &written,
                      py::list behind) {
    for (py::handle item : walk_tree(statement)) {
        if (!is_a(item, "Subscript") || is_a(attr_or(item, "ctx"), "Store") ||
            !is_a(item.attr("value"), "Name") || !written.contains(item.attr("value").attr("id")))
            continue;
        py::object name = item.attr("value").attr("id");
        if (py_equal(get_tag(item, tag_name(cls, time_slice_tag)), py::str("-")) &&
            !behind.contains(name))
            behind.append(name);
    }
}

// Sorts the names of each body statement into what it writes, at which offset, and what it reads
// at which offset; a name both read and written counts as written. The loop variable is no
// dependency. A statement that reads its own array behind (a recurrence, counting up) and
// another ahead (counting down) reads at both offsets, which the ordering refuses.
void record_references(const py::object &cls, const py::object &body, const py::object &var,
                       const py::object &lineno) {
    py::str written("w"), read("r");
    for (py::handle statement : body) {
        py::list assign, assign1, assign2, assign3, ref, ref1, ref2, ref3;
        statement.attr("_assign") = assign;
        statement.attr("_assign1") = assign1;
        statement.attr("_assign2") = assign2;
        statement.attr("_assign3") = assign3;
        statement.attr("_ref") = ref;
        statement.attr("_ref1") = ref1;
        statement.attr("_ref2") = ref2;
        statement.attr("_ref3") = ref3;
        statement.attr("_name") = py::none();
        for (py::handle entry : global_references(cls, statement)) {
            py::object name = entry[py::int_(0)];
            if (py_equal(name, var))
                continue;
            py::object mode = entry[py::int_(1)];
            if (mode.contains(written)) {
                assign.append(name);
                sort_by_mark(name, entry[py::int_(3)], assign1, assign2, assign3);
            } else if (mode.contains(read)) {
                // Read behind and ahead ("-+"): in both lists, which the ordering refuses.
                if (!sort_by_mark(name, entry[py::int_(4)], ref1, ref2, ref3))
                    ref.append(name);
            } else {
                script_fault("[Fatal.2600] `" + text_of(name) + "`, line " + text_of(lineno));
            }
        }
        // A recurrence on its own array behind runs counting up, a read of another ahead
        // counting down.
        if (py::len(ref2) > 0)
            own_reads_behind(cls, statement, assign, ref1);
    }
}

// A group that reads ahead of the loop variable counts down.
bool reads_ahead(py::handle group) {
    for (py::handle statement : group)
        if (py::len(statement.attr("_ref2")) > 0)
            return true;
    return false;
}

// Whether `statements` hold a `break` of the loop around them: not one of a nested loop's
// body, a function or a class (a nested loop's else clause breaks the outer loop).
bool breaks_out(py::handle statements) {
    for (py::handle statement : statements) {
        if (is_a(statement, "Break"))
            return true;
        if (is_a(statement, "FunctionDef") || is_a(statement, "AsyncFunctionDef") ||
            is_a(statement, "ClassDef"))
            continue;
        bool loop =
            is_a(statement, "For") || is_a(statement, "AsyncFor") || is_a(statement, "While");
        for (const char *field : {"body", "orelse", "finalbody", "handlers", "cases"}) {
            if (loop && std::string(field) == "body")
                continue;
            py::object inner = attr_or(statement, field);
            if (PyList_Check(inner.ptr()) && breaks_out(inner))
                return true;
        }
    }
    return false;
}

// The loop's else clause runs once the loops are done and none of them was left by break.
// Without a loop that breaks it simply follows them (as the else clause of `if True:` it would
// never run); otherwise each loop that may break counts its end without break in a C integer,
// and the clause runs when they all did.
void append_else_clause(const py::object &cls, const py::object &node, const py::object &ci,
                        py::list loops) {
    py::list orelse = node.attr("orelse");
    node.attr("orelse") = py::list();
    std::vector<py::object> breaking;
    for (py::handle loop : loops)
        if (breaks_out(loop.attr("body")))
            breaking.push_back(py::reinterpret_borrow<py::object>(loop));
    if (orelse.empty() || breaking.empty()) {
        loops.attr("extend")(orelse);
        return;
    }
    py::object lineno = node.attr("lineno");
    py::object start = ann_assign(name_store(loops_ended), bare_name("int"), constant(0));
    start.attr("lineno") = lineno;
    reform_stmt(cls, start, new_block(cls, node, ci));
    loops.insert(0, start);
    for (const py::object &loop : breaking) {
        py::object count =
            ast_class("AugAssign")(name_store(loops_ended), ast_class("Add")(), constant(1));
        count.attr("lineno") = lineno;
        py::list count_end;
        count_end.append(count);
        loop.attr("orelse") = count_end;
    }
    py::list equal, ended;
    equal.append(ast_class("Eq")());
    ended.append(constant(breaking.size()));
    py::object test = ast_class("Compare")(name_load(loops_ended), equal, ended);
    py::object clause = ast_class("If")(test, orelse, py::list());
    clause.attr("lineno") = orelse[0].attr("lineno");
    loops.append(clause);
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
    py::object block = new_block(cls, node, ci).attr("set_proj")(proj);
    reform_stmt(cls, node.attr("body"), block);
    record_references(cls, node.attr("body"), target.attr("id"), lineno);

    py::object groups = g["ZELProjection"].attr("sort_and_group_s")(node.attr("body"));
    if (!PyList_Check(groups.ptr()) || py::len(groups) == 0)
        script_fault("[Error.2670] No statement found in projection block.");

    set_class(node, "If");
    node.attr("test") = constant(true);
    py::list loops;
    node.attr("body") = loops;
    py::object backward = g["ZELProjection"].attr("partial")("range(x-1,-1,-1)");
    backward.attr("args")[py::int_(0)].attr("left") = count;
    py::object for_class = ast_class("For");
    for (py::handle group : groups) {
        py::object iter = reads_ahead(group) ? backward : forward;
        py::object loop =
            for_class(py::arg("target") = target, py::arg("iter") = iter, py::arg("body") = group,
                      py::arg("orelse") = py::list(), py::arg("type_comment") = py::none());
        loop.attr("lineno") = lineno;
        loops.append(loop);
    }
    append_else_clause(cls, node, ci, loops);
    for (py::handle loop : loops) {
        if (!is_a(loop, "For") || !py::object(loop.attr("iter")).is(forward))
            continue;
        std::string outside = range_condition(cls, py::reinterpret_borrow<py::object>(loop), ci);
        if (!outside.empty())
            run_unchecked_in_range(py::reinterpret_borrow<py::object>(loop), ci, outside);
    }
}

// The slice mark of a subscript's index inside a projection loop: "T" for the loop variable,
// "-" or "+" for the variable minus or plus something, "*" for any other index (`x[0]`,
// `x[n - 1 - t]`), which may read any step; None outside a projection loop. An index written
// out in full is marked by its last element, as a completed one is.
py::object check_time_slice(py::object cls, py::object node, py::object ci) {
    py::object proj = ci.attr("get_attr")(tag_name(cls, projection_tag));
    if (proj.is_none())
        return py::none();
    py::object v = proj["var"].attr("id");
    py::str any_step("*");
    if (is_a(node, "Tuple")) {
        py::list elements = node.attr("elts");
        if (elements.empty())
            return any_step;
        node = elements[elements.size() - 1];
    }
    if (is_a(node, "BinOp")) {
        py::object left = node.attr("left");
        if (!is_a(left, "Name") || !py_equal(left.attr("id"), v))
            return any_step;
        if (is_a(node.attr("op"), "Sub"))
            return py::str("-");
        if (is_a(node.attr("op"), "Add"))
            return py::str("+");
        return any_step;
    }
    if (is_a(node, "Name") && py_equal(node.attr("id"), v))
        return py::str("T");
    return any_step;
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
