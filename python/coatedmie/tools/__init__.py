"""The command-line tools, each a module with main(argv=None) -> int: lookup_table (coatedmie-lookup-table),
plot_intensity (coatedmie-plot-intensity), plot_spectrum (coatedmie-plot-spectrum). Also run as
``python3 -m coatedmie.tools.<name>``."""
