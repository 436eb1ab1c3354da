#!/usr/bin/python3
"""Gives the PP-OCR recognition model a fixed input size, so OpenCV 4.6's dnn loads it.

    fix-ocr-model.py SOURCE.onnx TARGET.onnx WIDTH

OpenCV 4.6 refuses a Shape node over a dynamic size, and takes per-channel weights on a
sequence (layer norms, biases) along the wrong axis. With the input 1x3x48xWIDTH every size
is known: the shape arithmetic is folded into constants and those weights are laid out
over the whole sequence. The same source and width always give the same file.
"""
import sys

import numpy as np
import onnx
from onnx import helper, numpy_helper, shape_inference

HEIGHT = 48


def attrs(node):
    return {a.name: helper.get_attribute_value(a) for a in node.attribute}


def known_shapes(model):
    inferred = shape_inference.infer_shapes(model)
    shapes = {}
    for info in list(inferred.graph.value_info) + list(inferred.graph.input):
        dims = info.type.tensor_type.shape.dim
        if dims and all(d.HasField("dim_value") and d.dim_value > 0 for d in dims):
            shapes[info.name] = [d.dim_value for d in dims]
    return shapes


def constants(graph):
    values = {t.name: numpy_helper.to_array(t) for t in graph.initializer}
    for node in graph.node:
        if node.op_type == "Constant":
            values[node.output[0]] = numpy_helper.to_array(attrs(node)["value"])
    return values


def evaluate(node, inputs):
    a = attrs(node)
    if node.op_type == "Cast":
        return inputs[0].astype(onnx.mapping.TENSOR_TYPE_TO_NP_TYPE[a["to"]])
    if node.op_type == "Slice":  # opset 9: starts, ends and axes are attributes
        index = [slice(None)] * inputs[0].ndim
        for axis, start, end in zip(a.get("axes", range(inputs[0].ndim)), a["starts"], a["ends"]):
            index[axis] = slice(start, end)
        return inputs[0][tuple(index)]
    if node.op_type == "Concat":
        return np.concatenate(inputs, axis=a["axis"])
    if node.op_type == "Squeeze":
        return np.squeeze(inputs[0], axis=tuple(a["axes"]))
    if node.op_type == "Unsqueeze":
        return np.expand_dims(inputs[0], axis=tuple(a["axes"]))
    if node.op_type == "Gather":
        return np.take(inputs[0], inputs[1], axis=a.get("axis", 0))
    return None


def fold(model):
    """Shape nodes over known sizes, and what is computed from constants alone, become
    constants; nodes nothing uses any more go."""
    graph = model.graph
    shapes, values, changed = known_shapes(model), constants(graph), 0
    for k, node in enumerate(list(graph.node)):
        value = None
        if node.op_type == "Shape" and node.input[0] in shapes:
            value = np.array(shapes[node.input[0]], dtype=np.int64)
        elif node.op_type != "Constant" and node.input and all(i in values for i in node.input):
            value = evaluate(node, [values[i] for i in node.input])
        if value is not None:
            graph.node.remove(node)
            tensor = numpy_helper.from_array(np.asarray(value), node.output[0])
            graph.node.insert(k, helper.make_node("Constant", [], [node.output[0]],
                                                  name=node.name, value=tensor))
            changed += 1
    needed = {o.name for o in graph.output}
    for node in reversed(list(graph.node)):
        if any(o in needed for o in node.output):
            needed.update(node.input)
        else:
            graph.node.remove(node)
            changed += 1
    return changed


def spread(model):
    """Weights of length C applied to a 1xLxC sequence become LxC."""
    graph = model.graph
    shapes, values, changed = known_shapes(model), constants(graph), 0
    for node in graph.node:
        if node.op_type not in ("Mul", "Add", "Sub", "Div") or len(node.input) != 2:
            continue
        for i in range(2):
            other = node.input[1 - i]
            if node.input[i] not in values or other in values or other not in shapes:
                continue
            weights, shape = values[node.input[i]], shapes[other]
            # As ONNX broadcasts, along the last axis, also where the sequence is as long as
            # the weights (OpenCV would take them along the sequence then, unnoticed).
            if weights.ndim == 1 and weights.size > 1 and len(shape) == 3 and shape[2] == weights.size:
                name = "%s_over_%d" % (node.input[i], shape[1])
                if name not in values:
                    graph.initializer.append(
                        numpy_helper.from_array(np.tile(weights, (shape[1], 1)), name))
                    values[name] = None
                node.input[i] = name
                changed += 1
    return changed


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, target, width = sys.argv[1], sys.argv[2], int(sys.argv[3])
    model = onnx.load(source)
    dims = model.graph.input[0].type.tensor_type.shape.dim
    if len(dims) != 4 or dims[1].dim_value != 3 or dims[2].dim_value not in (0, HEIGHT):
        sys.exit("%s: not a 3x%d line recognition model" % (source, HEIGHT))
    for d, size in zip(dims, (1, 3, HEIGHT, width)):
        d.ClearField("dim_param")
        d.dim_value = size
    while fold(model) + spread(model):
        pass
    onnx.save(model, target)


if __name__ == "__main__":
    main()
