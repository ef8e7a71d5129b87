"""JSON serializers: per type a <T>JsonSerializer that lists its bindings
(key, file flag, accessors) for the hand-written JsonSerializerT; plus the
type list in type order that serializer registration walks."""

from model import BANNER, GROUP_LISTS

NS = 'fennik::server'


def reference_order(t):
    """Group lists first (parent, children, childrenShared, linked), then the
    other lists, then the single references, each in schema order."""
    by_name = {r.name: r for r in t.references}
    group = [by_name[n] for n in GROUP_LISTS if n in by_name and by_name[n].many]
    rest = [r for r in t.references if r.many and r not in group]
    singles = [r for r in t.references if not r.many]
    return group + rest + singles


def serializer_header(schema, t):
    T = t.name
    return '\n'.join([
        BANNER, '#pragma once', '',
        '#include "model/JsonSerializerT.h"',
        f'#include "qor/server/entities/{T}.h"', '',
        'namespace qor::server {', '',
        f'class {T}JsonSerializer final : public JsonSerializerT<{T}> {{',
        ' public:',
        f'  {T}JsonSerializer();',
        '};', '',
        'template <>',
        f'struct JsonSerializerFor<{T}> {{',
        f'  using type = {T}JsonSerializer;',
        '};', '',
        '}  // namespace qor::server', ''])


def serializer_source(schema, t):
    T = t.name
    rows = []
    for f in t.fields:
        file = 'true' if f.has('F') else 'false'
        rows.append(f'    jsonField<{T}, &{T}::{f.cap}Getter, &{T}::set{f.cap}>({T}::FIELD_{f.upper}, {file}),')
    for r in reference_order(t):
        if r.many:
            rows.append(f'    jsonIdList<{T}, &{T}::{r.name}Ids, &{T}::set{r.cap}Ids>("{r.name}"),')
        else:
            rows.append(f'    jsonId<{T}, &{T}::{r.name}Id, &{T}::set{r.cap}Id>("{r.name}"),')
    return '\n'.join([
        BANNER,
        f'#include "qor/server/serializers/{T}JsonSerializer.h"', '',
        'namespace qor::server {', '',
        f'{T}JsonSerializer::{T}JsonSerializer()',
        f'    : JsonSerializerT<{T}>({{'] + rows + ['      }) {}', '', '}  // namespace qor::server', ''])


def serializers_header(schema):
    out = [BANNER, '#pragma once', '',
           '// Every <T>JsonSerializer; JsonSerializerFor<T>::type names the one of T.']
    for t in schema.types:
        out.append(f'#include "qor/server/serializers/{t.name}JsonSerializer.h"')
    return '\n'.join(out) + '\n'


def entity_types_header(schema):
    names = ', '.join(t.name for t in schema.types)
    return '\n'.join([
        BANNER, '#pragma once', '',
        '#include "qor/server/entities/Forward.h"', '',
        '#include <type_traits>', '',
        'namespace qor::server {', '',
        '// Calls fn(std::type_identity<T>{}) for every entity type, in the type order.',
        'template <class F>',
        'void forEachEntityType(F&& fn) {',
        f'  [&]<class... T>() {{ (fn(std::type_identity<T>{{}}), ...); }}.template operator()<{names}>();',
        '}', '',
        f'inline constexpr int ENTITY_TYPE_COUNT = {len(schema.types)};', '',
        '}  // namespace qor::server', ''])


def json_serializer_outputs(schema):
    files = {
        'qor/server/entities/EntityTypes.h': lambda: entity_types_header(schema),
        'qor/server/serializers/JsonSerializers.h': lambda: serializers_header(schema),
    }
    for t in schema.types:
        files[f'qor/server/serializers/{t.name}JsonSerializer.h'] = (lambda t=t: serializer_header(schema, t))
        files[f'qor/server/generated/{t.name}JsonSerializer.cpp'] = (lambda t=t: serializer_source(schema, t))
    return files
