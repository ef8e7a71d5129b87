#!/usr/bin/env python3
"""Generates the entity classes, their services and the catalogue from schema/.

Usage:
  entitygen.py --schema DIR --out DIR          write every generated file
  entitygen.py --schema DIR --list             print the files it would write

Generated code stays thin: it names fields, types, defaults and flags and
forwards to the hand-written templates of the host framework (field writes,
relations, aggregators, group operations). Standard library only.
"""

import argparse
import json
import os
import sys

import model
from emit_entity import entity_header, entity_source
from emit_service import service_headers, service_source
from emit_catalogue import catalogue_source, enums_header, forward_header, all_header, registration_source
from emit_json_serializer import json_serializer_outputs
from emit_wire import wire_outputs


def outputs(schema):
    files = {
        'qor/server/entities/Enums.h': lambda: enums_header(schema),
        'qor/server/entities/Forward.h': lambda: forward_header(schema),
        'qor/server/entities/All.h': lambda: all_header(schema),
        'qor/server/generated/Catalogue.cpp': lambda: catalogue_source(schema),
        'qor/server/generated/GeneratedServices.cpp': lambda: registration_source(schema),
    }
    for t in schema.types:
        files[f'qor/server/entities/{t.name}.h'] = (lambda t=t: entity_header(schema, t))
        for path, text in service_headers(schema, t).items():
            files[path] = (lambda text=text: text)
        files[f'qor/server/generated/{t.name}.cpp'] = (lambda t=t: entity_source(schema, t) + service_source(schema, t))
    files.update(json_serializer_outputs(schema))
    files.update(wire_outputs(schema))
    return files


def write_if_changed(path, text):
    # Unchanged outputs keep their time stamps, so nothing rebuilds needlessly.
    if os.path.exists(path):
        with open(path, encoding='utf-8') as fh:
            if fh.read() == text:
                return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w', encoding='utf-8') as fh:
        fh.write(text)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--schema', required=True, help='the schema folder (entities/*.json, enums.json)')
    parser.add_argument('--out', help='the folder to write into')
    parser.add_argument('--list', action='store_true', help='print the output paths, one per line')
    args = parser.parse_args(argv)
    try:
        schema = model.load(args.schema)
    except model.SchemaError as err:
        print(f'entitygen: {err}', file=sys.stderr)
        return 1
    files = outputs(schema)
    if args.list:
        print(';'.join(sorted(files)))
        return 0
    if not args.out:
        parser.error('--out is required unless --list is given')
    for path, make in files.items():
        write_if_changed(os.path.join(args.out, path), make())
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
