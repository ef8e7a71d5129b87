"""FlatBuffers schemas of the wire: one table per entity type
(qor.server.fbs.<T>, root = the table, no file identifier) with the field ids
of the schema's "wire" list, plus the enumerations they use."""

from model import BANNER, SchemaError

FBS_BANNER = BANNER.replace('//', '//', 1)
SCALAR_FBS = {'bool': 'bool', 'int': 'int', 'uint': 'uint', 'double': 'double', 'string': 'string', 'uuid': 'string'}
CPP_KEYWORDS = set("""alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t char16_t
char32_t class compl concept const consteval constexpr constinit const_cast continue co_await co_return co_yield
decltype default delete do double dynamic_cast else enum explicit export extern false float for friend goto if inline
int long mutable namespace new noexcept not not_eq nullptr operator or or_eq private protected public register
reinterpret_cast requires return short signed sizeof static static_assert static_cast struct switch template this
thread_local throw true try typedef typeid typename union unsigned using virtual void volatile wchar_t while xor
xor_eq""".split())


class WireField:
    """One field of a wire table: the id, a reference, or an entity field."""

    def __init__(self, t, doc):
        self.id = doc['id']
        self.name = doc['name']
        if self.name in CPP_KEYWORDS:
            raise SchemaError(f'{t.name}: wire field {self.name} is a C++ keyword')
        self.reference = None
        self.field = None
        if 'reference' in doc:
            self.reference = next(r for r in t.references if r.name == doc['reference'])
        elif self.id != 0:
            self.field = next(f for f in t.fields if f.name == self.name)

    @property
    def vt(self):
        return 'VT_' + self.name.upper()

    @property
    def access(self):
        """'readonly', 'throttled', 'plain', or None for fields an update ignores."""
        f = self.field
        if f is None or not f.has('I'):
            return None
        if f.has('R'):
            return 'readonly'
        return 'throttled' if f.has('T') else 'plain'

    def fbs_type(self):
        if self.id == 0:
            return 'string'
        if self.reference:
            return '[string]' if self.reference.many else 'string'
        f = self.field
        base = f.enum.name if f.enum else SCALAR_FBS[f.base]
        return f'[{base}]' if f.is_list else base


def wire_fields(t):
    return [WireField(t, w) for w in t.wire]


def enums_fbs(schema):
    out = [BANNER.rstrip('\n'), '', 'namespace qor.server.fbs;', '']
    for e in schema.enums.values():
        values = ', '.join(f'{n} = {v}' for n, v in e.values)
        out.append(f'enum {e.name} : int {{ {values} }}')
    return '\n'.join(out) + '\n'


def table_fbs(t):
    out = [f'table {t.name} {{']
    for w in wire_fields(t):
        out.append(f'  {w.name}: {w.fbs_type()} (id: {w.id});')
    out.append('}')
    return out


def type_fbs(schema, t):
    out = [BANNER.rstrip('\n'), '', 'include "Enums.fbs";', '', 'namespace qor.server.fbs;', '']
    out += table_fbs(t)
    out += ['', f'root_type {t.name};', '']
    return '\n'.join(out)


def schema_text_source(schema):
    """Every enumeration and table in one schema text, for clients that turn
    tables into JSON and back (qorctl)."""
    text = [enums_fbs(schema), '']
    for t in schema.types:
        text += table_fbs(t) + ['']
    body = '\n'.join(text)
    return '\n'.join([BANNER, '#include "wire/WireSchemaText.h"', '', 'namespace qor::server::wire {', '',
                      'const char* entityWireSchema() {',
                      '  return R"fbs(' + body + ')fbs";', '}', '', '}  // namespace qor::server::wire', ''])
