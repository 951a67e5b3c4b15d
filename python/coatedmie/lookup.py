"""Lookup tables of coated spheres: core_shell's quantities, and optionally the
Mueller matrix, phase function and Legendre moments, over labelled dimensions,
computed lazily in chunks by Dask under xarray (imported only here)."""

import functools
import operator
import warnings

import numpy as np

from ._description import Particles, complex_, real
from ._engine import __version__, legendre_moments, mueller, phase_function
from .particles import core_shell

_ARGUMENTS = ("m_core", "m_shell", "wavelength", "d_core", "d_shell", "n_medium")
_INDICES = ("m_core", "m_shell")

# Particles per chunk by default, divided by the angles or moments each one
# carries: tenths of a second of engine time per chunk for particles of a few
# dozen terms, against a scheduler's milliseconds per task.
_PARTICLES_PER_CHUNK = 2**17

_EFFICIENCIES = {
    "Qext": "extinction efficiency", "Qsca": "scattering efficiency", "Qabs": "absorption efficiency",
    "Qback": "backscattering efficiency", "Qpr": "radiation-pressure efficiency",
}
_CROSS_SECTIONS = {
    "Cext": "extinction cross-section", "Csca": "scattering cross-section", "Cabs": "absorption cross-section",
    "Cback": "backscattering cross-section, 4 pi times the differential scattering cross-section at 180 degrees",
    "Cpr": "radiation-pressure cross-section",
}
_MUELLER = ("S11", "S12", "S33", "S34")
_OUTPUTS = " outputs"  # the index of a kernel's stacked outputs, unlike any dimension's name


def _table_modules():
    try:
        import dask.array
        import xarray
    except ImportError as error:
        raise ImportError("coatedmie.lookup_table needs xarray and Dask (Debian: python3-xarray python3-dask; "
                          f"python3-netcdf4 to write netCDF, python3-distributed for a cluster): {error}") from error
    return xarray, dask.array


# The blocks' kernels: plain NumPy functions of one block of each argument,
# the engine in the calling thread since the scheduler runs blocks in parallel.
def _kernel_on_blocks(kernel, expansions, parameters, *blocks):
    """The kernel on the blocks given axes of length 1 for the dimensions they
    lack, so that they broadcast; several outputs stacked on a first axis."""
    outputs = kernel(*(np.expand_dims(block, axes) for block, axes in zip(blocks, expansions)), **parameters)
    return np.stack(outputs) if isinstance(outputs, tuple) else outputs


def _refused_block(*arguments):
    return Particles(*arguments).refused


def _efficiency_block(*arguments):
    return tuple(core_shell(*arguments, threads=1, invalid="nan"))


def _angular_block(*arguments, angles):
    layers = Particles(*arguments).layers
    return (*mueller(*layers, angles, threads=1, invalid="nan"),
            phase_function(*layers, angles, threads=1, invalid="nan"))


def _moment_block(*arguments, count):
    return legendre_moments(*Particles(*arguments).layers, count, threads=1, invalid="nan")


def _labelled(xr, name, value):
    """The argument as a DataArray of float64 (complex128 for an index): a
    1-D array along a dimension of its own name."""
    convert = complex_ if name in _INDICES else real
    if isinstance(value, xr.DataArray):
        array = value.copy(data=convert(value.values, name))
    else:
        values = convert(value, name)
        if values.ndim > 1:
            raise ValueError(f"{name} must be a number, a 1-D array or an xarray.DataArray, found {values.ndim} "
                             "dimensions")
        array = xr.DataArray(values, dims=(name,) * values.ndim)
    if name in array.dims and name not in _INDICES:
        if array.dims != (name,):
            raise ValueError(f"{name} spans a dimension of its own name, so it must span no other, found "
                             f"{array.dims}")
        if name in array.coords and not np.array_equal(array.coords[name].values, array.values, equal_nan=True):
            raise ValueError(f"{name} has a coordinate {name} that differs from its values")
        array = array.assign_coords({name: array.variable})
    return array.rename(name)


def _length_attributes(length_unit, squared=False):
    if length_unit is None:
        unit = "the square of the length unit" if squared else "the length unit"
        return {"comment": f"in {unit} of the wavelength and diameters, not named (lookup_table's length_unit)"}
    return {"units": f"{length_unit}2" if squared else length_unit}


def _coordinate_attributes(length_unit):
    dimensionless = {"units": "1"}
    attributes = {
        "wavelength": {"standard_name": "radiation_wavelength", "long_name": "wavelength in vacuum",
                       **_length_attributes(length_unit)},
        "d_core": {"long_name": "diameter of the core", **_length_attributes(length_unit)},
        "d_shell": {"long_name": "outer diameter of the particle, core and shell", **_length_attributes(length_unit)},
        "n_medium": {"long_name": "real refractive index of the surrounding medium", **dimensionless},
        "angle": {"standard_name": "scattering_angle", "long_name": "scattering angle", "units": "degree"},
        "moment": {"long_name": "order l of the Legendre moment chi_l", **dimensionless},
    }
    for name, layer in (("m_core", "core"), ("m_shell", "shell")):
        attributes[f"{name}_real"] = {"long_name": f"real part n of the {layer}'s refractive index m = n + ik",
                                      **dimensionless}
        attributes[f"{name}_imag"] = {"long_name": f"imaginary part k of the {layer}'s refractive index m = n + ik",
                                      **dimensionless}
    return attributes


def _variable_attributes(length_unit):
    outer = "divided by the outer geometric cross-section pi d_shell^2 / 4"
    attributes = {name: {"long_name": long_name, "units": "1", "comment": f"cross-section {outer}"}
                  for name, long_name in _EFFICIENCIES.items()}
    attributes.update({name: {"long_name": long_name, **_length_attributes(length_unit, squared=True)}
                       for name, long_name in _CROSS_SECTIONS.items()})
    attributes["g"] = {"long_name": "asymmetry parameter, the mean cosine of the scattering angle", "units": "1"}
    attributes["albedo"] = {"long_name": "single-scattering albedo Qsca / Qext", "units": "1"}
    mueller_comment = ("Bohren and Huffman's convention, time factor exp(-i omega t), unnormalised: "
                       "S11 = (|S2|^2 + |S1|^2) / 2, S12 = (|S2|^2 - |S1|^2) / 2, S33 = Re(S2 S1*), "
                       "S34 = Im(S2 S1*) of the amplitude functions S1, S2; S22 = S11, S44 = S33, S21 = S12, "
                       "S43 = -S34, the others 0; S11 / k^2 (k = 2 pi n_medium / wavelength) is the differential "
                       "scattering cross-section for unpolarised light, -S12 / S11 its degree of linear "
                       "polarisation")
    attributes.update({name: {"long_name": f"Mueller matrix element {name}", "units": "1",
                              "comment": mueller_comment} for name in _MUELLER})
    attributes["phase_function"] = {
        "long_name": "phase function", "units": "1",
        "comment": "2 (|S1|^2 + |S2|^2) / (y^2 Qsca), y = pi n_medium d_shell / wavelength: mean 1 over all "
                   "directions, integral 4 pi over the sphere"}
    attributes["legendre_moment"] = {
        "long_name": "Legendre moment chi_l of the phase function", "units": "1",
        "comment": "p(cos theta) = sum over l of (2 l + 1) chi_l P_l(cos theta); chi_0 = 1, chi_1 = g"}
    return attributes


def _chunk_sizes(dask_array, sizes, chunks, particles):
    chunks, chunks_by_dim = dict.fromkeys(sizes, "auto") if chunks is None else chunks, {}
    if not isinstance(chunks, dict):
        raise TypeError(f"chunks must be None or a dict of dimension -> chunk size, found {chunks!r}")
    unknown = sorted(set(chunks) - set(sizes))
    if unknown:
        raise ValueError(f"chunks names {unknown}, not among the dimensions the particles span, {list(sizes)} "
                         "(each chunk holds every angle and moment)")
    for dim, size in chunks.items():
        if size != "auto" and not (isinstance(size, (int, np.integer)) and not isinstance(size, bool) and size >= 1):
            raise ValueError(f"chunks: {dim} = {size!r}, expected a whole number of at least 1 or \"auto\"")
    normalized = dask_array.core.normalize_chunks(tuple(chunks.get(dim, -1) for dim in sizes), tuple(sizes.values()),
                                                  limit=particles * 8, dtype=np.float64)
    # Dask's "auto" leaves a remainder chunk (100 as 64 + 36); as many chunks
    # of even sizes keep the workers evenly busy.
    for dim, dim_chunks in zip(sizes, normalized):
        if chunks.get(dim) == "auto":
            count, size = len(dim_chunks), sizes[dim]
            dim_chunks = tuple(size // count + (k < size % count) for k in range(count))
        chunks_by_dim[dim] = dim_chunks
    return chunks_by_dim


def lookup_table(m_core, m_shell, wavelength, d_core, d_shell, n_medium=1.0, *, angles=None, moments=0, chunks=None,
                 length_unit=None):
    """A lazy xarray.Dataset of core_shell's quantities over a grid, computed in chunks by Dask.

    The arguments broadcast by dimension name: a 1-D array spans a dimension named after its argument, a DataArray
    keeps its own dimensions and coordinates (which must agree exactly with the others'). So an index tabulated as
    a DataArray over "wavelength" follows the wavelength axis, and a coating of given thickness is
    d_shell = d_core + 2 thickness, a DataArray over ("d_core", "thickness"). Dimensions come in the order the
    arguments first name them, then "angle" and "moment".

    Nothing is computed until ``.compute()``, ``.load()`` or ``.to_netcdf()`` (python3-netcdf4), which run on
    Dask's active scheduler: threads by default, or the workers of a dask.distributed Client. Every value is bit for
    bit that of the direct call for the same particle, whatever the chunks and the scheduler: `core_shell`, and
    `mueller`, `phase_function` and ``legendre_moments(..., count=L)`` with the size parameters and relative indices
    `core_shell` gives the engine. Ctrl-C stops the computation's engine calls in Dask's threads too.

    Parameters
    ----------
    m_core, m_shell : complex, 1-D array_like or xarray.DataArray
        Refractive indices n + ik of the core's and the shell's materials.
    wavelength : float, 1-D array_like or xarray.DataArray
        Vacuum wavelength, in any length unit.
    d_core, d_shell : float, 1-D array_like or xarray.DataArray
        Diameters of the core and of the whole particle, in the unit of the wavelength.
    n_medium : float, 1-D array_like or xarray.DataArray, optional
        Real refractive index of the medium; default 1.
    angles : float or 1-D array_like, optional
        Scattering angles in degrees, finite, for the Mueller matrix and the phase function.
    moments : int, optional
        Legendre moments per particle, chi_0 .. chi_{L-1}; default 0, none.
    chunks : dict, optional
        Dimension -> chunk size (a whole number of at least 1, or "auto"); the dimensions it leaves out stay whole.
        None (default): chunks of about 131072 particles, divided by the number of angles or of moments, whichever
        is larger. Each chunk holds every angle and moment of its particles.
    length_unit : str, optional
        The UDUNITS symbol of the wavelength's and diameters' unit, such as "nm" or "um", for the attributes
        (cross-sections get its square, "nm2"). Without it the length variables say in a comment that their unit is
        not named, and the Dataset does not claim to follow the CF conventions.

    Returns
    -------
    xarray.Dataset
        Data variables Qext, Qsca, Qabs, Qback, Qpr, g, albedo, Cext, Csca, Cabs, Cback, Cpr as in `core_shell`;
        with angles also S11, S12, S33, S34 (`mueller`) and phase_function along "angle"; with moments,
        legendre_moment along "moment". The arguments are coordinates: the real ones under their own names, each
        index as {name}_real and {name}_imag, since netCDF holds no complex numbers (a 1-D index array spans a
        dimension of its name without coordinate values). A point the computation refuses (a core larger than its
        shell, a size beyond the engine's limits) is NaN in every variable; the attribute invalid_points counts
        them, found at once by a NumPy pass over the grid that applies the input rules without running the engine.

    Raises
    ------
    ImportError
        Without xarray and Dask.
    ValueError
        Coordinates that disagree, an argument of more than one dimension, angles that are not finite, a negative
        moments, chunks of unknown dimensions or sizes.
    TypeError
        Arguments that are not numbers, chunks that are not a dict.

    Examples
    --------
    Water drops with a 40 nm core of soot at three wavelengths:

    >>> from coatedmie import lookup_table
    >>> table = lookup_table(1.75 + 0.44j, 1.33, [450, 550, 650], 40, [100, 200], length_unit="nm")
    >>> table.Qext.dims, table.Cext.attrs["units"], table.attrs["invalid_points"]
    (('wavelength', 'd_shell'), 'nm2', 0)
    >>> round(float(table.Qext.sel(wavelength=550, d_shell=200)), 6)
    0.162824
    """
    xr, dask_array = _table_modules()
    arrays = {name: _labelled(xr, name, value) for name, value in
              zip(_ARGUMENTS, (m_core, m_shell, wavelength, d_core, d_shell, n_medium))}
    try:
        arrays = dict(zip(_ARGUMENTS, xr.align(*arrays.values(), join="exact")))
    except ValueError as error:
        raise ValueError(f"the arguments' coordinates disagree: {error}") from None

    angle_values = None if angles is None else np.atleast_1d(real(angles, "angles"))
    if angle_values is not None and angle_values.ndim != 1:
        raise ValueError(f"angles must be a number or a 1-D array, found shape {angle_values.shape}")
    if angle_values is not None and not np.all(np.isfinite(angle_values)):
        k = int(np.flatnonzero(~np.isfinite(angle_values))[0])
        raise ValueError(f"angles must be finite, found {angle_values[k]!r} at index {k}")
    moments = operator.index(moments)
    if moments < 0:
        raise ValueError(f"moments must be at least 0, found {moments}")

    sizes = {}
    for array in arrays.values():
        sizes.update(array.sizes)
    for name, array in arrays.items():
        if name in sizes and name not in _INDICES and array.dims != (name,):
            raise ValueError(f"another argument spans the dimension {name}, so {name} must be its values: a 1-D "
                             f"array or a DataArray over {name!r} alone, found dimensions {array.dims}")
    per_particle = max(1, moments, 0 if angle_values is None else angle_values.size)
    chunk_sizes = _chunk_sizes(dask_array, sizes, chunks, max(1, _PARTICLES_PER_CHUNK // per_particle))
    dims = tuple(sizes)
    inputs, expansions = [], []
    for array in arrays.values():
        own = tuple(dim for dim in dims if dim in array.dims)
        chunked = dask_array.from_array(array.transpose(*own).values, chunks=tuple(chunk_sizes[dim] for dim in own))
        inputs += [chunked, own]
        expansions.append(tuple(axis for axis, dim in enumerate(dims) if dim not in own))

    def apply(kernel, names, core_dim=None, size=None, dtype=np.float64, **parameters):
        # One task per chunk giving every output stacked along a first axis:
        # xarray.apply_ufunc would add a getitem and a transpose task per
        # chunk and output, which on a distributed scheduler cost more than
        # the engine for small particles.
        stacked = len(names) > 1
        core = (core_dim,) if core_dim else ()
        blocks = dask_array.blockwise(
            functools.partial(_kernel_on_blocks, kernel, expansions, parameters),
            (_OUTPUTS,) * stacked + dims + core, *inputs,
            new_axes={**({_OUTPUTS: len(names)} if stacked else {}), **({core_dim: size} if core_dim else {})},
            meta=np.empty((0,) * (stacked + len(dims) + len(core)), dtype))
        outputs = [blocks[k] for k in range(len(names))] if stacked else [blocks]
        return {name: xr.Variable(dims + core, output) for name, output in zip(names, outputs)}

    variables = apply(_efficiency_block, list(_EFFICIENCIES) + ["g", "albedo"] + list(_CROSS_SECTIONS))
    if angle_values is not None:
        variables.update(apply(_angular_block, list(_MUELLER) + ["phase_function"], "angle", angle_values.size,
                               angles=angle_values))
    if moments:
        variables.update(apply(_moment_block, ["legendre_moment"], "moment", moments, count=moments))
    refused = apply(_refused_block, ["refused"], dtype=bool)["refused"]

    coordinates = [array.coords.to_dataset() for array in arrays.values()]
    for name, array in arrays.items():
        parts = {f"{name}_real": array.real, f"{name}_imag": array.imag} if name in _INDICES else {name: array}
        coordinates.append(xr.Dataset(coords={key: part.variable for key, part in parts.items()}))
    if angle_values is not None:
        coordinates.append(xr.Dataset(coords={"angle": angle_values}))
    if moments:
        coordinates.append(xr.Dataset(coords={"moment": np.arange(moments)}))
    try:
        table = xr.merge(coordinates, compat="equals", join="exact", combine_attrs="drop_conflicts")
    except ValueError as error:
        raise ValueError(f"the arguments' coordinates disagree: {error}") from None
    table = table.assign(variables)

    for name, attributes in _coordinate_attributes(length_unit).items():
        if name in table.coords:
            table.coords[name].attrs.update(attributes)
    for name, attributes in _variable_attributes(length_unit).items():
        if name in table:
            table[name].attrs.update(attributes)
    with warnings.catch_warnings():
        # An active distributed client warns of work done beside it; this
        # NumPy pass has no need of its workers.
        warnings.filterwarnings("ignore", "Running on a single-machine scheduler", UserWarning)
        invalid_points = int(refused.sum().compute(scheduler="threads"))
    table.attrs = {
        "title": "Optical properties of coated spheres: a core inside a concentric shell",
        "source": f"coatedmie {__version__}",
        **({"Conventions": "CF-1.8"} if length_unit is not None else {}),
        "refractive_indices": "m = n + ik, absorbing for k > 0 (n - ik gives the same values); relative to the "
                              "medium, m / n_medium; size parameters pi n_medium d / wavelength",
        "invalid_points": invalid_points,
        "comment": "NaN marks a particle the computation refuses (invalid geometry or beyond its limits); "
                   "invalid_points counts them",
    }
    return table
