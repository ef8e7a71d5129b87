"""Every file of the wire: schemas, serializers, controllers, registration."""

from emit_controller import controller_header, controller_source, wire_registration_source
from emit_fbs import enums_fbs, schema_text_source, type_fbs
from emit_flatbuffer_serializer import serializer_header, serializer_source
from model import BANNER


def wire_outputs(schema):
    files = {
        'qor/server/fbs/Enums.fbs': lambda: enums_fbs(schema),
        'qor/server/generated/wire/GeneratedWire.cpp': lambda: wire_registration_source(schema),
        'qor/server/generated/wire/WireSchemaText.cpp': lambda: schema_text_source(schema),
    }
    for t in schema.types:
        files[f'qor/server/fbs/{t.name}.fbs'] = (lambda t=t: type_fbs(schema, t))
        files[f'qor/server/serializers/{t.name}FlatbufferSerializer.h'] = (lambda t=t: serializer_header(schema, t))
        files[f'qor/server/controllers/{t.name}Controller.h'] = (lambda t=t: controller_header(schema, t))
        files[f'qor/server/generated/wire/{t.name}Wire.cpp'] = (
            lambda t=t: BANNER + serializer_source(schema, t) + '\n' + controller_source(schema, t))
    return files
