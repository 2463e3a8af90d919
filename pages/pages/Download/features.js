// Offer to keep the packages without installing them.
var Feature_OfferDownloadOnly = true;
