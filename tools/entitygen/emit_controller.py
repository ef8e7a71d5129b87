"""<T>Controller: the table of the type's wire fields an update reads
(read-only ones to reject, throttled and plain ones to apply); the
verification and posting live in wire/EntityController.h. Also the
registration of every serializer and controller in type order."""

from emit_fbs import wire_fields
from model import BANNER, SchemaError

NS = 'fennik::server'


def controller_header(schema, t):
    T, I = t.name, t.interface_class
    base = f'wire::EntityController<{T}, fbs::{T}, {I}>'
    return '\n'.join([
        BANNER, '#pragma once', '',
        f'#include "qor/server/fbs/{T}_generated.h"',
        f'#include "qor/server/services/{I}.h"',
        '#include "wire/EntityController.h"', '',
        'namespace qor::server {', '',
        f'class {T}Controller final : public {base} {{',
        ' public:',
        f'  explicit {T}Controller(std::string route = std::string({T}::CLASS_NAME));',
        f'  static const Fields& fields();',
        '};', '', '}  // namespace qor::server', ''])


def apply_expr(t, w):
    f = w.field
    read = f't.{w.name}()'
    if f.is_list:
        raise SchemaError(f'{t.name}.{f.name}: writable list fields cannot be updated over the wire')
    if f.base == 'string':
        read = f'wire::fromWire({read})'
    elif f.base == 'uuid':
        read = f'wire::uuidFromWire({read})'
    elif f.enum:
        read = f'static_cast<{f.enum.name}>({read})'
    return f'[]({t.interface_class}& s, {t.name}* e, const fbs::{t.name}& t) {{ s.set{f.cap}(e, {read}, false); }}'


def controller_source(schema, t):
    T = t.name
    rows = []
    for w in wire_fields(t):
        access = w.access
        if access == 'readonly':
            rows.append(f'      {{"{w.name}", fbs::{T}::{w.vt}, wire::Access::ReadOnly, nullptr}},')
        elif access:
            kind = 'Throttled' if access == 'throttled' else 'Plain'
            rows.append(f'      {{"{w.name}", fbs::{T}::{w.vt}, wire::Access::{kind},\n       {apply_expr(t, w)}}},')
    return '\n'.join([
        f'#include "qor/server/controllers/{T}Controller.h"', '',
        '#include "wire/WireConvert.h"', '',
        'namespace qor::server {', '',
        f'{T}Controller::{T}Controller(std::string route) : EntityController(std::move(route), fields()) {{}}', '',
        f'const {T}Controller::Fields& {T}Controller::fields() {{',
        '  static const Fields table{'] + rows + ['  };', '  return table;', '}', '',
                                                  '}  // namespace qor::server', ''])


def wire_registration_source(schema):
    out = [BANNER, '#include "wire/GeneratedWire.h"', '',
           '#include "fennik/server/entity/Database.h"']
    for t in schema.types:
        out.append(f'#include "qor/server/controllers/{t.name}Controller.h"')
        out.append(f'#include "qor/server/serializers/{t.name}FlatbufferSerializer.h"')
    out += ['', 'namespace qor::server::wire {', '']
    for t in schema.types:
        out += ['template <>',
                f'std::shared_ptr<{NS}::EntityFlatbufferSerializer> makeFlatbufferSerializer<{t.name}>() {{',
                f'  return std::make_shared<{t.name}FlatbufferSerializer>();', '}', '']
    out += [f'std::vector<std::shared_ptr<{NS}::IFennikController>> makeEntityControllers() {{',
            f'  return {{']
    for t in schema.types:
        out.append(f'      std::make_shared<{t.name}Controller>(std::string({t.name}::CLASS_NAME)),')
    out += ['  };', '}', '', '}  // namespace qor::server::wire', '']
    return '\n'.join(out)
