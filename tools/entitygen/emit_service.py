"""Entity services: I<T>Service with its field handles, aggregators and
setters; <T>Service on the group template for group-capable types; the
<T>ServiceBase of the generation gap where a hand-written service derives."""

from model import BANNER

NS = 'fennik::server'
CTOR_ARGS = (f'std::shared_ptr<{NS}::Database> db, std::shared_ptr<{NS}::EntityLoop> loop, '
             f'std::shared_ptr<{NS}::ServiceResolver> services')


def handle_decl(t, f):
    T, X, V = t.name, f.cap, f.cpp_type()
    if f.companion:
        comp = f'&{T}::{f.companion.cap}Getter, &{T}::{f.companion.cap}Setter'
    else:
        comp = 'nullptr, nullptr'
    return (f'  static inline const {NS}::FieldHandle<{T}, {V}> {f.name}Field{{\n'
            f'      {T}::FIELD_{f.upper}, &{T}::{X}Getter, &{T}::{X}ExternalSetter, {comp}, {T}::get{X}DefaultValue()}};')


def interface_header(schema, t):
    T, I = t.name, t.interface_class
    out = [BANNER, '#pragma once', '',
           f'#include "qor/server/entities/{T}.h"', '',
           '#include "fennik/server/entity/EntityService.h"',
           '#include "fennik/server/loop/QueuedAccessor.h"',
           '#include "fennik/server/service/ServiceResolver.h"', '',
           '#include <memory>', '#include <string>', '',
           'namespace qor::server {', '',
           f'class {I} : public {NS}::EntityService<{T}> {{',
           ' public:',
           f'  {I}({CTOR_ARGS});', '']
    if t.service_name:
        out.append(f'  std::string serviceName() const override {{ return "{t.service_name}"; }}')
    out += [f'  bool doSetProperty({T}* entity, std::string_view field, const {NS}::PropertyValue& value) override;', '',
            '  // Field handles, in field order.']
    for f in t.fields:
        out.append(handle_decl(t, f))
    out += ['', '  // Service-level writes: normal writes spread over groups and links, external ones re-aggregate up.']
    for f in t.fields:
        V = f.cpp_type()
        body = (f'writeConsistent({f.name}Aggregator_, entity, value, external);' if f.companion
                else f'writePlain({f.name}Field, entity, value, external);')
        out.append(f'  virtual void set{f.cap}({T}* entity, const {V}& value, bool external) {{ {body} }}')
    if t.consistent_fields():
        out += ['', ' protected:']
        for f in t.consistent_fields():
            out.append(f'  {NS}::Aggregator<{T}, {f.cpp_type()}> {f.name}Aggregator_{{{f.name}Field}};')
    out += ['};', '', '}  // namespace qor::server', '']
    return '\n'.join(out)


def concrete_body(t, cls):
    base = f'{NS}::FtBase<{t.interface_class}, {t.name}>' if t.groups else t.interface_class
    return [f'class {cls} : public {base} {{',
            ' public:',
            f'  using {base}::{"FtBase" if t.groups else t.interface_class};',
            '};']


def service_headers(schema, t):
    T = t.name
    includes = [f'#include "qor/server/services/{t.interface_class}.h"']
    if t.groups:
        includes.append('#include "fennik/server/entity/FtBase.h"')
    files = {f'qor/server/services/{t.interface_class}.h': interface_header(schema, t)}
    if t.hand_written:
        # Generation gap: the hand-written service in src/service derives from this base.
        base = [BANNER, '#pragma once', ''] + includes + ['', 'namespace qor::server {', '']
        base += concrete_body(t, f'{T}ServiceBase') + ['', '}  // namespace qor::server', '']
        files[f'qor/server/services/{T}ServiceBase.h'] = '\n'.join(base)
        files[f'qor/server/services/{T}Service.h'] = '\n'.join(
            [BANNER, '#pragma once', '', f'#include "service/{T}Service.h"', ''])
    else:
        body = [BANNER, '#pragma once', ''] + includes + ['', 'namespace qor::server {', '']
        body += concrete_body(t, f'{T}Service') + ['', '}  // namespace qor::server', '']
        files[f'qor/server/services/{T}Service.h'] = '\n'.join(body)
    return files


def service_source(schema, t):
    T, I = t.name, t.interface_class
    out = [f'#include "qor/server/services/{I}.h"', '',
           '#include "fennik/server/entity/PropertyConvert.h"', '',
           'namespace qor::server {', '',
           f'{I}::{I}({CTOR_ARGS})',
           f'    : {NS}::EntityService<{T}>(std::move(db), std::move(loop), std::move(services)) {{']
    for f in t.consistent_fields():
        out.append(f'  registerAggregator(&{f.name}Aggregator_);')
    out += ['}', '',
            f'bool {I}::doSetProperty({T}* entity, std::string_view field, const {NS}::PropertyValue& value) {{',
            '  if (!entity) return false;']
    for f in t.fields:
        out += [f'  if (field == {T}::FIELD_{f.upper}) {{',
                f'    auto typed = {NS}::propertyTo<{f.cpp_type()}>(value);',
                f'    if (typed) set{f.cap}(entity, *typed, false);',
                '    return typed.has_value();',
                '  }']
    if not t.fields:
        out.append('  (void)field;\n  (void)value;')
    out += ['  return false;', '}', '', '}  // namespace qor::server', '']
    return '\n'.join(out)
