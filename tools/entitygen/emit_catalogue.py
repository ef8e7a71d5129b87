"""Enumerations, forward declarations, the catalogue dump and the service
registration in type order."""

import json

from model import BANNER

NS = 'fennik::server'


def enums_header(schema):
    out = [BANNER, '#pragma once', '', '#include "model/EnumText.h"', '', '#include <array>', '#include <cstdint>', '',
           'namespace qor::server {', '']
    for e in schema.enums.values():
        values = ', '.join(f'{n} = {v}' for n, v in e.values)
        table = ', '.join(f'EnumValue{{"{n}", {v}}}' for n, v in e.values)
        out += [f'enum class {e.name} : std::int32_t {{ {values} }};', '',
                'template <>',
                f'struct EnumInfo<{e.name}> {{',
                f'  static constexpr std::string_view NAME = "{e.name}";',
                f'  static constexpr std::string_view FULL_NAME = "{e.full_name}";',
                f'  static constexpr std::string_view MAX_NAME = "{e.name.upper()}_MAX";',
                f'  static constexpr std::int32_t MAX_VALUE = {e.max_value};',
                f'  static constexpr std::array<EnumValue, {len(e.values)}> VALUES{{{{{table}}}}};',
                '};', '']
    out += ['}  // namespace qor::server', '']
    return '\n'.join(out)


def forward_header(schema):
    out = [BANNER, '#pragma once', '', 'namespace qor::server {', '']
    for t in schema.types:
        out.append(f'class {t.name};')
    out += ['', '}  // namespace qor::server', '']
    return '\n'.join(out)


def all_header(schema):
    out = [BANNER, '#pragma once', '']
    for t in schema.types:
        out.append(f'#include "qor/server/entities/{t.name}.h"')
    return '\n'.join(out) + '\n'


def catalogue_source(schema):
    out = [BANNER, '#include "model/Catalogue.h"', '', '#include "model/CatalogueJson.h"',
           '#include "qor/server/entities/All.h"', '', 'namespace qor::server {', '',
           'nlohmann::ordered_json catalogueJson() {',
           '  nlohmann::ordered_json types = nlohmann::ordered_json::array();']
    for t in schema.types:
        defaults = ',\n'.join(f'          catalogueValue({t.name}::get{f.cap}DefaultValue())' for f in t.fields)
        wire = ', '.join(f'{{{w["id"]}, {json.dumps(w["name"])}}}' for w in t.wire)
        out += [f'  types.push_back(describeType<{t.name}>(',
                f'      {{\n{defaults}}},' if t.fields else '      {},',
                f'      {{{wire}}}));']
    out += ['  nlohmann::ordered_json enums = nlohmann::ordered_json::array();']
    for e in schema.enums.values():
        out.append(f'  enums.push_back(describeEnum<{e.name}>());')
    out += ['  nlohmann::ordered_json doc;', '  doc["types"] = std::move(types);', '  doc["enums"] = std::move(enums);',
            '  return doc;', '}', '', '}  // namespace qor::server', '']
    return '\n'.join(out)


def registration_source(schema):
    out = [BANNER, '#include "model/GeneratedServices.h"', '',
           '#include "fennik/server/entity/Database.h"',
           '#include "fennik/server/service/EntityContext.h"',
           '#include "fennik/server/service/ServiceResolver.h"']
    for t in schema.types:
        out.append(f'#include "qor/server/services/{t.service_class}.h"')
    out += ['', 'namespace qor::server {', '',
            f'void addGeneratedServices(const std::shared_ptr<{NS}::EntityContext>& context) {{',
            '  const auto& db = context->db();', '  const auto& loop = context->loop();',
            '  const auto& services = context->services();']
    for t in schema.types:
        out.append(f'  services->add(std::make_shared<{t.service_class}>(db, loop, services));')
    out += ['}', '', f'void removeGeneratedServices(const std::shared_ptr<{NS}::EntityContext>& context) {{',
            '  const auto& services = context->services();']
    for t in schema.types:
        out.append(f'  services->remove<{t.service_class}>();')
    out += ['}', '', 'std::size_t generatedServiceCount() { return ' + str(len(schema.types)) + '; }', '',
            '}  // namespace qor::server', '']
    return '\n'.join(out)
