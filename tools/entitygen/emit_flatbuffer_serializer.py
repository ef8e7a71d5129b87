"""<T>FlatbufferSerializer: names the fields of the wire table in field-id
order; the builder handling lives in wire/FlatbufferSerializer.h."""

from emit_fbs import wire_fields
from model import BANNER


def serializer_header(schema, t):
    T = t.name
    return '\n'.join([
        BANNER, '#pragma once', '',
        f'#include "qor/server/entities/{T}.h"',
        '#include "wire/FlatbufferSerializer.h"', '',
        'namespace qor::server {', '',
        f'class {T}FlatbufferSerializer final : public wire::FlatbufferSerializer<{T}> {{',
        ' protected:',
        f'  void build(flatbuffers::FlatBufferBuilder& b, const {T}& e) const override;',
        '};', '', '}  // namespace qor::server', ''])


def value_expr(w):
    """(setup line or None, expression) for one wire field."""
    f, r = w.field, w.reference
    var = f'o_{w.name}'
    if w.id == 0:
        return f'auto {var} = b.CreateString(e.strId());', var
    if r:
        if r.many:
            return f'auto {var} = wire::idsOf(b, e.{r.plural}());', var
        return f'auto {var} = wire::idOf(b, e.get{r.cap}());', var
    get = f'e.get{f.cap}()'
    if f.is_list:
        if f.enum:
            return f'auto {var} = wire::enumList<fbs::{f.enum.name}>(b, {get});', var
        return f'auto {var} = wire::list(b, {get});', var
    if f.base in ('string', 'uuid'):
        return f'auto {var} = wire::text(b, {get});', var
    if f.enum:
        return None, f'static_cast<fbs::{f.enum.name}>({get})'
    return None, get


def serializer_source(schema, t):
    T = t.name
    setup, adds = [], []
    for w in wire_fields(t):
        line, expr = value_expr(w)
        if line:
            setup.append('  ' + line)
        adds.append(f'  t.add_{w.name}({expr});')
    return '\n'.join([
        f'#include "qor/server/serializers/{T}FlatbufferSerializer.h"', '',
        f'#include "qor/server/fbs/{T}_generated.h"',
        '#include "wire/WireConvert.h"', '',
        'namespace qor::server {', '',
        f'void {T}FlatbufferSerializer::build(flatbuffers::FlatBufferBuilder& b, const {T}& e) const {{'] +
        setup + [f'  fbs::{T}Builder t(b);'] + adds + ['  b.Finish(t.Finish());', '}', '',
                                                      '}  // namespace qor::server', ''])
