# Quick-look plots (included by the top Makefile): `make plots` builds the
# program (without the tests), writes one orbit (PLOTS_RECORDS seconds at 1 Hz)
# of sample orbit, gradient and rotation products with tools/l2gen.py,
# converts them and draws PNG quick looks with gnuplot into PLOTS_DIR.
PLOTS_DIR     ?= $(BUILD)/plots
PLOTS_RECORDS ?= 5400

.PHONY: plots
plots:
	@$(DEPS) plots
	@L2_NO_DEPS=1 $(MAKE) --no-print-directory program
	sh tools/plots.sh $(BUILD)/l2xml2ascii $(PLOTS_DIR) $(PLOTS_RECORDS)
