"""Entity classes: fields with their constants, flags, signals and accessors,
relation lists and single references, descriptors and pointer resolution."""

from model import BANNER, FLAG_ENUM, FLAG_LETTERS, FLAG_NAMES

NS = 'fennik::server'


def slots(t):
    """Signal slot numbers: fields first, then two per list, one per single reference."""
    table = {}
    n = 0
    for f in t.fields:
        table[f.name] = n
        n += 1
    for r in t.references:
        if r.many:
            table[('add', r.name)] = n
            table[('remove', r.name)] = n + 1
            n += 2
        else:
            table[('set', r.name)] = n
            n += 1
    return table


def field_block(t, f, slot):
    T, V, X, U = t.name, f.cpp_type(), f.cap, f.upper
    out = [f'  // {f.name}: {f.type}, flags "{"".join(f.flags)}"',
           f'  static constexpr const char* FIELD_{U} = "{f.name}";']
    for letter in FLAG_LETTERS:
        if f.has(letter):
            out.append(f'  static constexpr bool {U}_{FLAG_NAMES[letter]}_FLAG = true;')
    out += [
        f'  static {V} get{X}DefaultValue() {{ return {f.cpp_default()}; }}',
        f'  const {V}& get{X}() const {{ return {f.name}_; }}',
        f'  bool set{X}(const {V}& value, bool external) {{',
        f'    return writeField({slot}, FIELD_{U}, {f.name}_, value, external, external);',
        '  }',
        f'  boost::signals2::connection on{X}Changed(std::function<void(const {V}&, bool)> slot);',
        f'  static const {V}& {X}Getter(const {T}* e) {{ return e->{f.name}_; }}',
        f'  static void {X}Setter({T}* e, const {V}& value) {{',
        f'    e->writeField({slot}, FIELD_{U}, e->{f.name}_, value, false, false);',
        '  }',
        f'  static bool {X}ExternalSetter({T}* e, const {V}& value, bool external) {{ return e->set{X}(value, external); }}',
        '',
    ]
    return out


def list_block(t, r, add_slot, remove_slot):
    Y, R = r.cap, r.target
    return [
        f'  // {r.name}: list of {R}',
        f'  {NS}::ListView<{R}*> {r.plural}() const {{ return {r.name}_.pointers(); }}',
        f'  {NS}::ListView<{NS}::Uuid> {r.name}Ids() const {{ return {r.name}_.ids(); }}',
        f'  void add{Y}({R}* e) {{',
        '    if (!e) return;',
        f'    {r.name}_.add(e);',
        f'    relationChanged({add_slot}, e, "add_{r.name}_");',
        '  }',
        f'  void remove{Y}({R}* e) {{',
        '    if (!e) return;',
        f'    {r.name}_.remove(e);',
        f'    relationChanged({remove_slot}, e, "del_{r.name}_");',
        '  }',
        f'  void set{Y}Ids(std::vector<{NS}::Uuid> ids) {{ {r.name}_.setIds(std::move(ids)); }}',
        f'  boost::signals2::connection onAdd{Y}(std::function<void({R}*)> slot);',
        f'  boost::signals2::connection onRemove{Y}(std::function<void({R}*)> slot);',
        '',
    ]


def single_block(t, r, slot):
    Y, R = r.cap, r.target
    return [
        f'  // {r.name}: one {R} or none',
        f'  {R}* get{Y}() const {{ return {r.name}_.get(); }}',
        f'  void set{Y}({R}* e) {{',
        f'    {r.name}_.set(e);',
        f'    relationChanged({slot}, e, "set_{r.name}_");',
        '  }',
        f'  const {NS}::Uuid& {r.name}Id() const {{ return {r.name}_.id(); }}',
        f'  void set{Y}Id(const {NS}::Uuid& id) {{ {r.name}_.setId(id); }}',
        f'  boost::signals2::connection onSet{Y}(std::function<void({R}*)> slot);',
        '',
    ]


def member_rank(f):
    # Widest members first keeps padding small: most entities are never observed,
    # so their size is mostly their values.
    if f.is_list or f.base == 'string':
        return 0
    if f.base == 'uuid':
        return 1
    if f.base == 'double':
        return 2
    if f.base in ('int', 'uint') or f.enum:
        return 3
    return 4


def entity_header(schema, t):
    s = slots(t)
    targets = sorted({r.target for r in t.references} - {t.name})
    out = [BANNER, '#pragma once', '',
           '#include "fennik/server/entity/Entity.h"',
           '#include "fennik/server/entity/Relation.h"',
           '#include "qor/server/entities/Enums.h"',
           '#include "qor/server/entities/Forward.h"',
           '', '#include <boost/signals2/connection.hpp>', '',
           '#include <cstdint>', '#include <functional>', '#include <memory>', '#include <string>',
           '#include <string_view>', '#include <vector>', '',
           'namespace qor::server {', '',
           f'class {t.name} final : public {NS}::Entity {{',
           ' public:',
           f'  static constexpr std::string_view CLASS_NAME = "{t.class_name}";',
           f'  static constexpr std::string_view TYPE_NAME = "{t.name}";',
           f'  static constexpr bool HAS_GROUPS = {"true" if t.groups else "false"};',
           '',
           f'  explicit {t.name}(const {NS}::Uuid& id) : {NS}::Entity(id) {{}}',
           f'  static std::shared_ptr<{t.name}> createDefaultInitialized(const {NS}::Uuid& id);',
           '',
           '  std::string_view className() const override { return CLASS_NAME; }',
           f'  bool isFileFlagSet() const override {{ return {"true" if t.file_flag() else "false"}; }}',
           '  bool isInterfaceFlagSet() const override { return true; }',
           f'  const {NS}::EntityFieldDescriptors& getFieldDescriptors() const override {{ return fieldDescriptors(); }}',
           f'  static const {NS}::EntityFieldDescriptors& fieldDescriptors();',
           f'  static const {NS}::EntityReferenceDescriptors& referenceDescriptors();',
           '  void resolvePointers(const Lookup& lookup) override;',
           '  // Fires every field signal that exists, in field order, with the current values.',
           '  void fireAllSignals(bool external);',
           '']
    for f in t.fields:
        out += field_block(t, f, s[f.name])
    for r in t.references:
        if r.many:
            out += list_block(t, r, s[('add', r.name)], s[('remove', r.name)])
        else:
            out += single_block(t, r, s[('set', r.name)])
    out.append(' private:')
    for f in sorted(t.fields, key=member_rank):
        out.append(f'  {f.cpp_type()} {f.name}_ = {f.cpp_default()};')
    for r in t.references:
        kind = 'RelationList' if r.many else 'SingleRelation'
        out.append(f'  {NS}::{kind}<{r.target}> {r.name}_;')
    out += ['};', '', '}  // namespace qor::server', '']
    if targets:
        # Relation targets must be complete wherever their pointers are compared or resolved.
        includes = [f'#include "qor/server/entities/{x}.h"' for x in targets]
        out = out[:-1] + ['// Relation targets (complete types for the inline relation accessors).'] + includes + ['']
    return '\n'.join(out)


def entity_source(schema, t):
    s = slots(t)
    T = t.name
    out = [BANNER,
           f'#include "qor/server/entities/{T}.h"', '',
           '#include "fennik/server/entity/TypedSignal.h"', '',
           'namespace qor::server {', '',
           f'std::shared_ptr<{T}> {T}::createDefaultInitialized(const {NS}::Uuid& id) {{',
           f'  return std::make_shared<{T}>(id);',
           '}', '',
           f'const {NS}::EntityFieldDescriptors& {T}::fieldDescriptors() {{',
           '  using F = fennik::server::FieldFlag;',
           f'  static const {NS}::EntityFieldDescriptors descriptors{{']
    for f in t.fields:
        flags = ', '.join(f'F::{FLAG_ENUM[c]}' for c in FLAG_LETTERS if f.has(c))
        out.append(f'      {{"{f.name}", "{f.type}", {{{flags}}}}},')
    out += ['  };', '  return descriptors;', '}', '',
            f'const {NS}::EntityReferenceDescriptors& {T}::referenceDescriptors() {{',
            f'  static const {NS}::EntityReferenceDescriptors descriptors{{']
    for r in t.references:
        out.append(f'      {{"{r.name}", "{r.target}", {"true" if r.many else "false"}}},')
    out += ['  };', '  return descriptors;', '}', '',
            f'void {T}::resolvePointers(const Lookup& lookup) {{']
    for r in t.references:
        out.append(f'  {r.name}_.resolve(lookup);')
    if not t.references:
        out.append('  (void)lookup;')
    out += ['}', '', f'void {T}::fireAllSignals(bool external) {{']
    for f in t.fields:
        out.append(f'  fireFieldSignal({s[f.name]}, &{f.name}_, external);')
    if not t.fields:
        out.append('  (void)external;')
    out += ['}', '']
    for f in t.fields:
        out += [f'boost::signals2::connection {T}::on{f.cap}Changed(std::function<void(const {f.cpp_type()}&, bool)> slot) {{',
                f'  return {NS}::detail::connectField<{f.cpp_type()}>(signalTable(), {s[f.name]}, std::move(slot));',
                '}', '']
    for r in t.references:
        if r.many:
            for verb in ('add', 'remove'):
                out += [f'boost::signals2::connection {T}::on{cap(verb)}{r.cap}(std::function<void({r.target}*)> slot) {{',
                        f'  return {NS}::detail::connectRelation<{r.target}>(signalTable(), {s[(verb, r.name)]}, std::move(slot));',
                        '}', '']
        else:
            out += [f'boost::signals2::connection {T}::onSet{r.cap}(std::function<void({r.target}*)> slot) {{',
                    f'  return {NS}::detail::connectRelation<{r.target}>(signalTable(), {s[("set", r.name)]}, std::move(slot));',
                    '}', '']
    out += ['}  // namespace qor::server', '']
    return '\n'.join(out)


def cap(name):
    return name[0].upper() + name[1:]
