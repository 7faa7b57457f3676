import Fenestra

// The window's printer as a document of its own: named by address, it is made
// on first use, which Qt 6.4's Loader cannot do for a component written inside
// a document whose components are bound.
PagePrinter {}
