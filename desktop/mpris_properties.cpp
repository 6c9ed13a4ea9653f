// The Properties interface of the MPRIS2 object (see MprisPropertiesAdaptor).
#include "desktop/mpris_adaptors.h"

#include <QDBusError>
#include <QMetaProperty>

#include <cmath>

namespace vornel::desktop {

namespace {

const char* interfaceOf(const QObject* adaptor)
{
    const QMetaObject* meta = adaptor->metaObject();
    const int index = meta->indexOfClassInfo("D-Bus Interface");
    return index < 0 ? "" : meta->classInfo(index).value();
}

bool isPropertiesAdaptor(const QObject* adaptor)
{
    return qstrcmp(interfaceOf(adaptor), "org.freedesktop.DBus.Properties") == 0;
}

} // namespace

// The call is answered here; what the slot returns afterwards is not sent.
void MprisPropertiesAdaptor::refuse(const QDBusMessage& call, QDBusError::ErrorType error, const QString& text)
{
    call.setDelayedReply(true);
    service_->bus().send(call.createErrorReply(error, text));
}

QDBusAbstractAdaptor* MprisPropertiesAdaptor::adaptorFor(const QString& interface, const QDBusMessage& call)
{
    for (QDBusAbstractAdaptor* adaptor : service_->findChildren<QDBusAbstractAdaptor*>(Qt::FindDirectChildrenOnly)) {
        if (!isPropertiesAdaptor(adaptor) && interface == QLatin1String(interfaceOf(adaptor)))
            return adaptor;
    }
    refuse(call, QDBusError::UnknownInterface, QStringLiteral("No interface %1 here").arg(interface));
    return nullptr;
}

QMetaProperty MprisPropertiesAdaptor::propertyOf(QDBusAbstractAdaptor* adaptor, const QString& interface,
                                                 const QString& name, const QDBusMessage& call)
{
    const QMetaObject* meta = adaptor->metaObject();
    const int index = meta->indexOfProperty(name.toUtf8().constData());
    if (index < QDBusAbstractAdaptor::staticMetaObject.propertyCount()) {
        refuse(call, QDBusError::UnknownProperty, QStringLiteral("No property %1.%2").arg(interface, name));
        return {};
    }
    return meta->property(index);
}

QDBusVariant MprisPropertiesAdaptor::Get(const QString& interface, const QString& name, const QDBusMessage& call)
{
    QDBusAbstractAdaptor* adaptor = adaptorFor(interface, call);
    if (!adaptor)
        return {};
    const QMetaProperty property = propertyOf(adaptor, interface, name, call);
    if (!property.isValid())
        return {};
    return QDBusVariant(property.read(adaptor));
}

QVariantMap MprisPropertiesAdaptor::GetAll(const QString& interface, const QDBusMessage& call)
{
    QDBusAbstractAdaptor* adaptor = adaptorFor(interface, call);
    if (!adaptor)
        return {};
    QVariantMap all;
    const QMetaObject* meta = adaptor->metaObject();
    for (int i = QDBusAbstractAdaptor::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i)
        all.insert(QString::fromLatin1(meta->property(i).name()), meta->property(i).read(adaptor));
    return all;
}

void MprisPropertiesAdaptor::Set(const QString& interface, const QString& name, const QDBusVariant& value,
                                 const QDBusMessage& call)
{
    QDBusAbstractAdaptor* adaptor = adaptorFor(interface, call);
    if (!adaptor)
        return;
    QMetaProperty property = propertyOf(adaptor, interface, name, call);
    if (!property.isValid())
        return;
    if (!property.isWritable()) {
        refuse(call, QDBusError::PropertyReadOnly, QStringLiteral("%1.%2 is read-only").arg(interface, name));
        return;
    }
    const QVariant given = value.variant();
    // Every writable property here is a number (D-Bus "d").
    if (given.metaType() != property.metaType() || std::isnan(given.toDouble())) {
        refuse(call, QDBusError::InvalidArgs, QStringLiteral("%1.%2 takes a number (type d)").arg(interface, name));
        return;
    }
    property.write(adaptor, given);
}

} // namespace vornel::desktop
